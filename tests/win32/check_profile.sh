#!/usr/bin/env bash
# The Windows cases leave the emulator's user folders alone: each console
# run has a profile of its own. Run with "before" ahead of them, which notes
# the time and what of the project the user folders hold, and with "after"
# once they ran, which fails when anything of the project there is new or
# changed since. In a fresh prefix, nothing of it may be there at all.
#   check_profile.sh before|after NOTES_FOLDER
set -euo pipefail
users="${WINEPREFIX:-$HOME/.wine}/drive_c/users"
notes=$2
found() {
  if [ -d "$users" ]; then
    find "$users" -iname tunnelconsole -prune -print | sort
  fi
}
case $1 in
  before)
    mkdir -p "$notes"
    found >"$notes/profile-before"
    touch "$notes/profile-stamp"
    ;;
  after)
    left=$(found | comm -13 "$notes/profile-before" -)
    changed=$(if [ -d "$users" ]; then
      find "$users" -ipath '*/tunnelconsole*' -newer "$notes/profile-stamp" -print
    fi)
    if [ -n "$left$changed" ]; then
      echo "the Windows cases wrote into the user folders of $users:"
      printf '%s\n' "$left" "$changed" | grep .
      exit 1
    fi
    echo "user folders of $users left alone"
    ;;
  *)
    echo "usage: check_profile.sh before|after NOTES_FOLDER" >&2
    exit 2
    ;;
esac
