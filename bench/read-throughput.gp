# Read throughput against file size for every tool, from the data file that
# cijobresults_bench --plot-data writes. bench/run calls:
#   gnuplot -e "datafile='...'; outfile='...'" bench/read-throughput.gp
if (!exists("datafile")) datafile = 'read-throughput.dat'
if (!exists("outfile")) outfile = 'read-throughput.png'
tools = "cijobresults JobResultsReader pugixml rapidxml expat libxml2-tree libxml2-reader floor"

set terminal pngcairo size 1300,560 font ",10" noenhanced
set output outfile
set datafile missing "-"
set logscale x 10
set logscale y 10
set grid xtics ytics mytics
set xlabel "records in the file (file size in MB in the label)"
set ylabel "MB/s (higher is faster)"
set key outside right top vertical
set xtics nomirror
set xrange [5000:2000000]
set multiplot layout 1,2 title "Read all records: throughput against file size"

set title "fresh process (one pass, median over processes)"
unset key
plot for [i=1:words(tools)] datafile using 1:(column(1+2*i)):xtic(sprintf("%d (%.0f MB)", $1, $2)) \
     with linespoints lw (i <= 2 ? 4 : 2) pt 7 title word(tools, i)

set title "warm (the passes after the first, same process; median)"
set key outside right top vertical
plot for [i=1:words(tools)] datafile using 1:(column(2+2*i)):xtic(sprintf("%d (%.0f MB)", $1, $2)) \
     with linespoints lw (i <= 2 ? 4 : 2) pt 7 title word(tools, i)
unset multiplot
