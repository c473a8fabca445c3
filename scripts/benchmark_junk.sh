#!/usr/bin/env bash
# A check of 1,000 messages through the click on 受信, with the junk filter
# off and on in the same run (every tenth message spam, a word list trained
# on 100 messages of each kind), and bogofilter alone over the check's
# copies; the median of each over the rounds and the ratio of on to off.
#   [LUMOPET_BUILD=build] scripts/benchmark_junk.sh [messages [rounds]]
#   (default 1000 messages, 3 rounds)
exec env BENCHMARK_JUNK=1 "$(dirname "$0")/benchmark_receive.sh" "$@"
