# Sourced by the packaging checks: a failure's message, and a scratch folder
# that goes when the check ends.
fail() { echo "FAIL: $*" >&2; exit 1; }

# Sets $scratch to a new empty folder, removed at exit.
make_scratch() {
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
}
