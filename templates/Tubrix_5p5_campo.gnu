set encoding iso_8859_1
set xlabel 'x (m)'; set ylabel 'y (m)'; set xrange [-0.02:1.02]; set yrange [-0.04:0.79]
set view map; set size ratio -1; set grid front; set pm3d interpolate 0,0 corners2color mean
set palette defined (0 '#30123b', 1 '#4686fb', 2 '#1ae4b6', 3 '#a2fc3c', 4 '#faba39', 5 '#e4460a', 6 '#7a0403')
set key Left reverse samplen 2; set cbtics format '%.1f'
set cntrlabel onecolor format '%.1f' start 5 interval -1 font ',9'
