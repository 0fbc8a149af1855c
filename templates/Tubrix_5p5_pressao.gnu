set encoding iso_8859_1
set xlabel 'x (m)'
set ylabel 'p (Pa)'
set grid; set format y '%.1t×10^{%T}'
set key top right box opaque
set style data linespoints
