set encoding iso_8859_1
set xlabel 'x (m)'
set ylabel 'número de Mach'
set grid
set key top left box opaque
set style data linespoints
