#!/bin/sh
# Runs the example programs on their bundled data:  ./examples/run.sh PATH_TO_PELLUX
set -e
if [ $# -ne 1 ]; then
    echo "usage: $0 PATH_TO_PELLUX" >&2
    exit 2
fi
PELLUX=$1
DIR=$(cd "$(dirname "$0")" && pwd)

echo "== ledger.sno (amounts in cents after END, printed as a balance sheet)"
"$PELLUX" "$DIR/ledger.sno"
echo
echo "== linenum.sno < poem.txt (numbers the lines of standard input)"
"$PELLUX" "$DIR/linenum.sno" < "$DIR/poem.txt"
echo
echo "== wrap.sno (fills the text after END into justified lines with defined functions)"
"$PELLUX" "$DIR/wrap.sno"
echo
echo "== csvsplit.sno < sales.csv (CSV fields taken apart with patterns, totals by region and product)"
"$PELLUX" "$DIR/csvsplit.sno" < "$DIR/sales.csv"
echo
echo "== wordcount.sno < poem.txt (words found with BREAK and SPAN, counted in variables named after them)"
"$PELLUX" "$DIR/wordcount.sno" < "$DIR/poem.txt"
echo
echo "== routes.sno (rail links after END; breadth-first search with tables and DATA lists)"
"$PELLUX" "$DIR/routes.sno"
echo
echo "== dirlist.sno :examples (a directory listing through a -dir unit and DirEnt fields)"
"$PELLUX" "$DIR/dirlist.sno" ":$DIR"
echo; echo "== bindump.sno :bindump.dat (a binary file in hex; its records decoded with BYTES2I, BYTES2R and friends)"
"$PELLUX" "$DIR/bindump.sno" ":$DIR/bindump.dat"
