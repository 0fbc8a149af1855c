set encoding iso_8859_1
set xlabel 'x (m)'
set ylabel 'massa específica (kg/m³)'
set grid
set key top right box opaque
set style data linespoints
