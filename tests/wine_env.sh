# Wine environment for running the Windows build in scripts; meant to be
# sourced. A fresh prefix costs ~10 s and ~700 MB, so one template is made
# with wineboot once and copied (~1.3 s) for each set of runs.
#
#   wine_env_export PREFIX            exports WINEPREFIX and the quiet settings
#   wine_env_template TEMPLATE        makes the template prefix unless it exists
#   wine_env_fresh_prefix TEMPLATE PREFIX
#                                     template, then a fresh copy at PREFIX,
#                                     exported, with a persistent wineserver
#   wine_env_stop                     ends the wineserver of WINEPREFIX

wine_env_export() {
  export WINEPREFIX="$1"
  export WINEARCH=win64
  export WINEDEBUG=-all
  # No Mono/Gecko install prompts; a crash exits (status 5) instead of
  # waiting in the debugger.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  export DISPLAY=
  export LC_ALL=C.UTF-8
}

wine_env_template() {
  local template="$1"
  mkdir -p "$(dirname "$template")"
  # Several runners may start together: one makes the template, the others
  # wait for it. It is built aside and renamed, so a half-made template is
  # never used.
  (
    flock 9
    if [ ! -d "$template" ]; then
      local tmp="$template.tmp"
      rm -rf "$tmp"
      (
        wine_env_export "$tmp"
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
      )
      [ -f "$tmp/system.reg" ] || { echo "wineboot made no prefix at $tmp" >&2; exit 1; }
      mv "$tmp" "$template"
    fi
  ) 9>"$template.lock"
}

wine_env_fresh_prefix() {
  local template="$1" prefix="$2"
  wine_env_template "$template" || return 1
  wine_env_export "$prefix"
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix" || return 1
  mkdir -p "$(dirname "$prefix")" || return 1
  cp -a "$template" "$prefix" || return 1
  # Keep the server alive between runs: a run then takes ~0.1 s instead of
  # ~0.5 s from cold.
  wineserver -p </dev/null >/dev/null 2>&1
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
}
