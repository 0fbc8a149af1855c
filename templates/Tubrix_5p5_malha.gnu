set encoding iso_8859_1
set xlabel 'x (m)'
set ylabel 'y (m)'
set grid; set key off; set style data lines
set size ratio -1
