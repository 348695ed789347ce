#!/bin/bash
# Runs a program of the host for a test under Wine, which cannot wait for a
# host process: its output and errors go to OUTPUT, then its exit code to
# STATUS, written whole at the very end for the test to poll.
#   host-run.sh STATUS OUTPUT PROGRAM [ARGS...]
status=$1
output=$2
shift 2
"$@" >"$output" 2>&1
echo $? >"$status.part"
mv "$status.part" "$status"
