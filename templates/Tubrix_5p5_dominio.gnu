set encoding iso_8859_1
set xlabel 'x (m)'
set ylabel 'y (m)'
set grid; set key outside right top
set style data linespoints; set offsets 0.05, 0.05, 0.05, 0.05
set size ratio -1
