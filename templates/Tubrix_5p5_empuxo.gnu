set encoding iso_8859_1
set xlabel 'x (m)'
set ylabel 'empuxo (N)'
set grid; set format y '%.1t×10^{%T}'
set key outside right top
set style data linespoints
