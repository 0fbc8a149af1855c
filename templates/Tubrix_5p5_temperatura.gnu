set encoding iso_8859_1
set xlabel 'x (m)'
set ylabel 'T (K)'
set grid
set key bottom left box opaque
set style data linespoints
