#!/bin/sh
# Prints the Debian mirror that apt on this machine uses (one-line or deb822
# sources), RXB540_DEBIAN_MIRROR when set, or deb.debian.org.
mirror=${RXB540_DEBIAN_MIRROR:-$(cat /etc/apt/sources.list /etc/apt/sources.list.d/* 2>/dev/null | grep -v '^ *#' |
    grep -oE 'https?://[^ ]*/debian/?( |$)' | head -n 1 | tr -d ' ')}
echo "${mirror:-http://deb.debian.org/debian}"
