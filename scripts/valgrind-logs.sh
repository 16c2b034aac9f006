# Sourced by the checks that run programs under valgrind memcheck with
# --track-fds=yes and one --log-file per process (45-valgrind, 15-mqtt).
#
# count_valgrind_problems LOG_DIR: reports on standard error every process
# whose log shows memory errors, leaks or a descriptor left open at exit,
# with its log, and prints how many there were.
count_valgrind_problems() {
    local log problem bad=0
    for log in "$1"/*.log; do
        problem=""
        grep -q 'ERROR SUMMARY: 0 errors' "$log" || problem="memory errors or leaks"
        # A descriptor still open at exit is listed with where it was opened;
        # one the program inherited says so on the line after it.
        if awk '/Open (file descriptor|AF_UNIX socket|AF_INET socket)/ { getline next_line;
                if (next_line !~ /<inherited from parent>/) found = 1 } END { exit !found }' "$log"; then
            problem="${problem:+$problem, }a descriptor left open"
        fi
        if [ -n "$problem" ]; then
            echo "valgrind: $problem in $(sed -n 's/.*Command: //p' "$log" | head -1)" >&2
            cat "$log" >&2
            bad=$((bad + 1))
        fi
    done
    echo "$bad"
}
