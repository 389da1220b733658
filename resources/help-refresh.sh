# Puts the help page that comes with the program into a workspace and keeps it
# up to date. Sourced by netzspurer-launch and run.sh, which then call
#
#   refresh_help SHIPPED_HELP_FOLDER WORKSPACE_HELP_FOLDER
#
# The workspace's help folder is filled from the shipped one when its page is
# missing, and again whenever the shipped page differs from the one copied last
# (kept as a checksum in .shipped beside it): a newer program brings its newer
# help. A page changed in the workspace since it was copied is the user's own:
# it stays as long as the shipped page stays the same, and when a newer page
# comes it is kept beside it as default.edited-DATE.htm. A copy made before
# copies were recorded cannot be told from an edited one and is kept the same way.
refresh_help() {
  help_from=$1
  help_to=$2
  help_page=$help_to/default.htm
  help_record=$help_to/.shipped
  # Nothing shipped, nothing to refresh: the program says so when it shows help.
  help_shipped=$(cksum < "$help_from/default.htm") || return 0
  if [ -f "$help_page" ]; then
    help_copied=$(cat "$help_record" 2>/dev/null || true)
    if [ "$help_copied" = "$help_shipped" ]; then
      return 0
    fi
    help_current=$(cksum < "$help_page")
    if [ "$help_current" != "$help_shipped" ] && [ "$help_current" != "$help_copied" ]; then
      cp -p "$help_page" "$help_to/default.edited-$(date +%Y%m%d-%H%M%S).htm"
    fi
  fi
  mkdir -p "$help_to"
  cp -R "$help_from/." "$help_to/"
  printf '%s\n' "$help_shipped" > "$help_record"
}
