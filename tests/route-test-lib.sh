# Shared by the real-time route tests, which run as root: user 65534 gets a
# directory and a copy of velkaro-cli it can reach wherever the build is.

skip() { echo "skipped: $*"; exit 77; }

# $dir: a fresh directory; $dir/user is the user's, $dir/velkaro-cli a copy of $1.
prepare_user_copy() {
  dir=$(mktemp -d)
  chmod 755 "$dir"
  mkdir "$dir/user"
  chown 65534:65534 "$dir/user"
  cp "$1" "$dir/velkaro-cli"
  chmod 755 "$dir/velkaro-cli"
}
