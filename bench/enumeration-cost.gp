# The time per entry of the session and process enumerations against the
# number of entries: the library beside the literal append-and-copy way.
# gnuplot -e "data='FILE'; out='docs/enumeration-cost.svg'" bench/enumeration-cost.gp
set terminal svg size 800,480 font "sans,12" background "white"
set output out
set title "Enumeration cost per entry (Wine, one core)"
set xlabel "entries"
set ylabel "microseconds per entry"
set logscale xy
set format x "10^{%T}"
set grid
set key top left
plot data using 2:(strcol(1) eq "sessions" ? $3 : NaN) with linespoints lw 2 title "sessions, Velquor", \
     data using 2:(strcol(1) eq "processes" ? $3 : NaN) with linespoints lw 2 title "processes, Velquor", \
     data using 2:(strcol(1) eq "sessions" ? $4 : NaN) with linespoints dt 2 title "sessions, append and copy", \
     data using 2:(strcol(1) eq "processes" ? $4 : NaN) with linespoints dt 2 title "processes, append and copy"
