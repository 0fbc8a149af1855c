set encoding iso_8859_1
set xlabel 'iteração'
set ylabel 'L1(R)n / L1(R)1'
set grid
set logscale y; set format y '%.0e'; set key off
set style data lines
