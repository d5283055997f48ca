# Shell pieces of the whole-process benchmarks, sourced by their scripts.

# The median of the numbers on standard input, one a line.
median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

# Runs the command given and appends its wall time in microseconds to the
# file named first; the command's standard output goes to standard output.
timed() {
  into=$1; shift
  s=$(date +%s%N); "$@" 2>/dev/null; e=$(date +%s%N)
  echo $(( (e - s) / 1000 )) >> "$into"
}
