# Sourced by the checks that run programs under valgrind memcheck with
# --track-fds=yes and one --log-file per process (45-valgrind, 15-mqtt).
#
# count_valgrind_problems LOG_DIR: reports on standard error every process
# whose log shows memory errors, leaks or a descriptor left open at exit,
# with the first of its records, and prints how many there were.
count_valgrind_problems() {
    local log problem bad=0
    for log in "$1"/*.log; do
        [ -e "$log" ] || continue
        problem=""
        grep -q 'ERROR SUMMARY: 0 errors' "$log" || problem="memory errors or leaks"
        # A descriptor still open at exit is listed with where it was opened;
        # one the program inherited says so on the line after it.
        if awk '/Open (file descriptor|AF_UNIX socket|AF_INET socket)/ { getline next_line;
                if (next_line !~ /<inherited from parent>/) found = 1 } END { exit !found }' "$log"; then
            problem="${problem:+$problem, }a descriptor left open"
        fi
        if [ -n "$problem" ]; then
            echo "valgrind: $problem in $(sed -n 's/.*Command: //p' "$log" | head -1) ($log)" >&2
            print_valgrind_records "$log" >&2
            bad=$((bad + 1))
        fi
    done
    echo "$bad"
}

# print_valgrind_records LOG: the log's records without valgrind's preamble
# and the summaries of clean parts, cut after 120 lines.
print_valgrind_records() {
    sed -e 's/^==[0-9]*== \{0,1\}//' "$1" |
        awk 'started || /^(Invalid|Conditional|Syscall|Mismatched|Source and|Argument|Open |[0-9,]+ bytes in|HEAP SUMMARY|LEAK SUMMARY|FILE DESCRIPTORS)/ { started = 1 }
             started { print }' |
        awk -v limit=120 'NR <= limit { print } END { if (NR > limit) printf "... (%d more lines)\n", NR - limit }'
}
