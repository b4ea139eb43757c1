# Sourced by the scripts: a usable environment whatever the caller's, an empty one (env -i) too.
# Without PATH in the environment, cmake cannot find its own modules.
printenv PATH >/dev/null || export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
# Without a UTF-8 locale Wine cannot create or open files whose names are not ASCII.
export LC_ALL=C.UTF-8
