# bash completion for bmpcontrast
_bmpcontrast() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        -o | --out-dir)
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
        --files-from)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        -l | --level | -j | --jobs | --max-pixels)
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--level --colour --out-dir --in-place --recursive --files-from
            --null --dry-run --force --skip-existing --update --follow-symlinks
            --preserve --strict --max-pixels --jobs --quiet --verbose --help --version' -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -X '!*.@(bmp|BMP)' -- "$cur") $(compgen -d -- "$cur"))
}
complete -o filenames -F _bmpcontrast bmpcontrast
