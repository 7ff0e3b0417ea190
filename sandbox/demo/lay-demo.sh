# Sourced by make-root --demo, with $here, $root, $home and $login set: copies the demo machine's files
# into the root, fills in the paths they need, and brings its services up in the root's launchd.

demo=$here/demo
uid=$(id -u)
now=$(date +%s)

# Laying it twice would find its services loaded already; a demo machine starts fresh.
for folder in "$root/private/var/db/launchd" "$home/Library/LaunchAgents" "$root/Library/LaunchDaemons"; do
    if [ -n "$(ls -A "$folder")" ]; then
        echo "make-root: $root already holds a machine; --demo needs a fresh root" >&2
        exit 1
    fi
done

cp -R "$demo/root/." "$root/"
cp -R "$demo/home/." "$home/"

# For sed's replacement text.
quote() {
    printf '%s\n' "$1" | sed 's/[\\&|]/\\&/g'
}
xml() {
    printf '%s\n' "$1" | sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g'
}
# Built once: a process per file and placeholder made laying the demo take seconds on a busy machine.
fillScript() {
    printf 's|@ROOT@|%s|g\ns|@HOME@|%s|g\ns|@UID@|%s|g\n' "$(quote "$1")" "$(quote "$2")" "$uid"
}
xmlScript=$(fillScript "$(xml "$root")" "$(xml "$home")")
textScript=$(fillScript "$root" "$home")
fillText() {
    sed -e "$textScript"
}

# The XML files get the placeholders filled; binary ones are laid as they are.
find "$root" -type f -name '*.plist' -exec chmod 644 {} + \
    -exec grep -lZ -m1 -e '^<?xml' {} + | xargs -0 -r sed -i -e "$xmlScript"

fillText < "$demo/crontab" > "$root/private/var/at/tabs/$login"
chmod 600 "$root/private/var/at/tabs/$login"

grep -v '^#' "$demo/launchd.log" | while IFS= read -r line; do
    ago=${line%% *}
    message=${line#* }
    minutes=${ago%%:*}
    seconds=${ago#*:}
    at=$((now + minutes * 60 - ${seconds#0}))
    printf '%s %s\n' "$(date -d "@$at" '+%Y-%m-%d %H:%M:%S.%6N%z')" "$message"
done | fillText > "$root/private/var/log/launchd.log"

launchctl() {
    QUILLWICK_ROOT=$root "$root/bin/launchctl" "$@"
}
domain() {
    case $1 in
        gui) echo "gui/$uid" ;;
        *) echo "$1" ;;
    esac
}
where() {
    case $1 in
        "~/"*) echo "$home/${1#"~/"}" ;;
        *) echo "$root/$1" ;;
    esac
}

grep -v '^#' "$demo/setup" | while read -r step first second; do
    case $step in
        mode) chmod "$first" "$(where "$second")" ;;
        owner) [ "$(id -u)" -ne 0 ] || chown "$first" "$(where "$second")" ;;
        bootstrap) launchctl bootstrap "$(domain "$first")" "$(where "$second")" ;;
        enable | disable) launchctl "$step" "$(domain "$first")/$second" ;;
        "") ;;
        *) echo "make-root: unknown demo step: $step" >&2; exit 1 ;;
    esac || {
        echo "make-root: demo step failed: $step $first $second" >&2
        # What the earlier steps started must not outlive a demo that is not there.
        launchctl sandbox-halt || true
        exit 1
    }
done
