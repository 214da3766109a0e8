# The environment of every Wine run of the project, sourced by the shell
# scripts and read by the Python ones (tests/e2e/wine_env.py), which take
# only its "export NAME=value" lines: Wine's debug channels silenced, its
# offers to install Mono and Gecko declined, and code page 1252 for the
# programs, whatever the caller's locale.
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=
export LC_ALL=C.UTF-8
