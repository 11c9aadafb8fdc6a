#!/bin/sh
# Fuzzes every target of a build made with -DSENDRA_FUZZ=ON for a bounded time, each on a
# temporary copy of its seeds, so that the fuzzer never writes into the source tree. A
# crash, leak, timeout, memory blow-up or sanitizer report fails the run; the input that
# caused it is kept in the work folder and named, to go into fuzz/regressions/<target>/
# once the fault is fixed.
#
# Usage: fuzz/run-fuzzers.sh BUILD-DIR [SECONDS-PER-TARGET]   (default 30 s)
set -eu
build=$(cd "$1" && pwd)
seconds=${2:-30}
list=$build/fuzz/targets.txt
[ -f "$list" ] || { echo "run-fuzzers: $list not found; configure with -DSENDRA_FUZZ=ON" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/sendra-fuzz-XXXXXX")
tab=$(printf '\t')
failed=""

while IFS=$tab read -r name dict seeds; do
	dir=$work/$name
	mkdir -p "$dir/corpus" "$dir/found"
	n=0
	# The seeds, files or folders of files, copied under numbered names (names repeat).
	IFS=$tab
	for s in $seeds; do
		if [ ! -e "$s" ]; then
			echo "run-fuzzers: $name: seed $s not found" >&2
			failed="$failed $name"
			continue
		fi
		for f in "$s" "$s"/*; do
			if [ -f "$f" ]; then
				n=$((n + 1))
				cp "$f" "$dir/corpus/$n-$(basename "$f")"
			fi
		done
	done
	unset IFS
	set -- -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
		-close_fd_mask=1 -artifact_prefix="$dir/found/"
	[ "$dict" = "-" ] || set -- "$@" -dict="$dict"
	start=$(date +%s)
	if (cd "$dir" && "$build/fuzz_$name" "$@" corpus </dev/null >log 2>&1); then
		echo "fuzz_$name: $(grep -m1 '^Done' "$dir/log" || echo done) ($n seeds, corpus now $(ls "$dir/corpus" | wc -l))"
	else
		echo "fuzz_$name: FAILED after $(($(date +%s) - start)) s; the end of its log:"
		tail -n 60 "$dir/log"
		echo "fuzz_$name: the input is in $dir/found/:"
		ls -l "$dir/found"
		failed="$failed $name"
	fi
done <"$list"

if [ -n "$failed" ]; then
	echo "run-fuzzers: failed:$failed (work folder $work kept)"
	exit 1
fi
rm -rf "$work"
