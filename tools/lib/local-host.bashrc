# Start-up of tools/lib/local-host's bash: what a host's login sources, a
# prompt that says which end of the line this is, and no history file (the
# history of this session is kept, the user's own is left alone).
. "$(dirname "${BASH_SOURCE[0]}")/../../host/brisvane.profile"
PS1='host$ '
unset HISTFILE
