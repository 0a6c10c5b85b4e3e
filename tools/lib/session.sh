# Shell helpers shared by the tools that run Corvid away from the user's own
# files (sourced, not run).

# Points HOME and the XDG folders at fresh folders under $1.
corvid_temp_home() {
  export HOME="$1/home"
  export XDG_CONFIG_HOME="$1/config" XDG_DATA_HOME="$1/data"
  export XDG_CACHE_HOME="$1/cache" XDG_STATE_HOME="$1/state"
  export XDG_RUNTIME_DIR="$1/runtime"
  mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
  mkdir -m 0700 "$XDG_RUNTIME_DIR"
}

# WebKit runs its web processes in a bubblewrap sandbox. As root inside some
# containers bubblewrap cannot create its namespaces; only then, and only
# for the caller's run, the web processes run without it. Normal users (and
# root where bubblewrap works) keep the sandbox. $1 names the caller.
corvid_webkit_sandbox() {
  if [ "$(id -u)" = 0 ] && ! bwrap --ro-bind / / --dev /dev --proc /proc --unshare-all \
       --die-with-parent true >/dev/null 2>&1; then
    echo "$1: bubblewrap cannot sandbox as root here; web processes run unsandboxed" >&2
    export WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1
  fi
}
