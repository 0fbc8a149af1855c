set encoding iso_8859_1
set xlabel 'x (m)'
set ylabel 'v (m/s)'
set grid
set key top left box opaque
set style data linespoints
