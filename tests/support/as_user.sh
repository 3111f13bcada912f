# Runs a program as an ordinary user would meet the system's permissions. Root
# passes every permission check, so under root the program runs as the
# unprivileged user "nobody" (setpriv, from util-linux); under any other user, as
# that user. The sourcing script calls `as_user COMMAND...` (or puts
# "${as_user_prefix[@]}" before a command it execs) and gives the folders that
# user must write to `user_owns PATH...` first.

if [[ $(id -u) == 0 ]]; then
    as_user_prefix=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
    user_owns() { chown 65534:65534 "$@"; }
else
    as_user_prefix=()
    user_owns() { :; }
fi
as_user() { "${as_user_prefix[@]}" "$@"; }
