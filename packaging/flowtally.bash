# bash completion for flowtally: the options, the search items after -j, the print items and
# their values after -p, the listing items and their values after -l, the test patterns after
# -t, users after -u and files after -o.

# _flowtally_items PREFIX CURRENT WORD...: sets _flowtally_candidates to PREFIX followed by
# each WORD that begins with CURRENT.
_flowtally_items() {
  local prefix=$1 current=$2 word
  shift 2
  _flowtally_candidates=()
  for word in "$@"; do
    [[ $word == "$current"* ]] && _flowtally_candidates+=("$prefix$word")
  done
}

_flowtally() {
  # The word under the cursor as typed, up to the cursor: bash splits words at '=' and ':'
  # as well, but the items are read whole.
  local line=${COMP_LINE:0:COMP_POINT}
  local cur=${line##*[[:space:]]}
  local before=${line%"$cur"}
  local -a words
  read -r -a words <<<"$before"
  local prev=${words[${#words[@]} - 1]}
  local count=${#words[@]}
  local head item
  _flowtally_candidates=()
  COMPREPLY=()

  case $prev in
    -j)
      head=${cur%"${cur##*,}"}
      item=${cur##*,}
      _flowtally_items "$head" "$item" name= run last date= today prep trk= tid=
      ;;
    -p)
      head=${cur%"${cur##*,}"}
      item=${cur##*,}
      case $item in
        format=*) _flowtally_items "${head}format=" "${item#format=}" csv rd jsonl json ;;
        style=*) _flowtally_items "${head}style=" "${item#style=}" 0 1 2 ;;
        tz=*) _flowtally_items "${head}tz=" "${item#tz=}" utc local ;;
        *) _flowtally_items "$head" "$item" format= style= ujonly erronly output notitle quote tz= ;;
      esac
      ;;
    -l)
      head=${cur%"${cur##*,}"}
      item=${cur##*,}
      case $item in
        format=*) _flowtally_items "${head}format=" "${item#format=}" tsv csv jsonl json ;;
        tz=*) _flowtally_items "${head}tz=" "${item#tz=}" utc local ;;
        fields=*)
          # The field being typed follows the last ':'.
          _flowtally_items "${head}${item%"${item##*[:=]}"}" "${item##*[:=]}" tracker jnw user \
            machine state flags status start end
          ;;
        *) _flowtally_items "$head" "$item" format= notitle fields= tz= ;;
      esac
      ;;
    -t)
      if [[ $cur == testp=* ]]; then
        # The pattern being typed follows the last operator or separator.
        item=${cur##*[/+*!]}
        head=${cur%"$item"}
        _flowtally_items "$head" "$item" hold skip wait submit run done error stopped \
          complete archived
      else
        _flowtally_items "" "$cur" testp=
      fi
      ;;
    -u)
      mapfile -t _flowtally_candidates < <(compgen -u -- "$cur")
      ;;
    -o)
      compopt -o filenames 2>/dev/null
      mapfile -t _flowtally_candidates < <(compgen -f -- "$cur")
      ;;
    -c | -d) ;;
    *)
      # The long options count only as the whole first argument.
      if [[ $cur == --* ]]; then
        ((count == 1)) && _flowtally_items "" "$cur" --help --version
      elif [[ $cur == -* ]]; then
        _flowtally_items "" "$cur" -j -c -p -t -l -o -u -a -d -v -V -h
      fi
      ;;
  esac

  case $prev in
    -j | -p | -t | -l) compopt -o nospace 2>/dev/null ;;
  esac
  # Bash replaces only the part of the word after its last break character ('=', ':').
  local cut=${#cur} breaks=${COMP_WORDBREAKS-=:}
  while ((cut > 0)) && [[ $breaks != *"${cur:cut-1:1}"* ]]; do
    ((cut--))
  done
  local candidate
  for candidate in "${_flowtally_candidates[@]}"; do
    COMPREPLY+=("${candidate:cut}")
  done
}

complete -F _flowtally flowtally
