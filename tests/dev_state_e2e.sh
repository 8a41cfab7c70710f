#!/usr/bin/env bash
# The show's state list (demo/state.h) against the library as built: every writable
# global of the demo's objects in liborb.a (nm: B, D, b and d symbols, demangled) is
# either in SHOW_STATE, copied by one of the saved point's hooks, or named below as
# rebuilt every frame or set once at start-up, with the reason. A new scene global
# that nobody lists fails here, before a jump silently stops being exact.
# Usage: dev_state_e2e.sh <builddir> <sourcedir>
set -u
build=$1 src=$2
fail() { echo "FAIL: $*"; exit 1; }
lib=$build/liborb.a
[ -f "$lib" ] || fail "no $lib"
command -v nm >/dev/null || fail "needs nm"

# Copied by the saved point's hooks (state.h says how).
hooks="bmp_bg gamemusic rand_state"
# Not state, each with its reason.
declare -A why=(
  [frameio]="the engine calls the program hands the sequence, set once before start-up"
  [mirador_width]="the output size, set once before start-up"
  [mirador_height]="the output size, set once before start-up"
  [postshader_id]="the present's shader, made at start-up"
  [font]="the show's font, loaded at start-up"
  [ofstab]="the texel offset table, built at start-up"
  [ofstab_w]="the texel offset table's size, set at start-up"
  [ofstab_h]="the texel offset table's size, set at start-up"
  [FD_sintab]="an angle table, filled at start-up"
  [FD_costab]="an angle table, filled at start-up"
  [free_inited]="the free-direction grids exist, set at start-up"
  [fd_capacity]="the free-direction grids' size, set at start-up"
  [tempu]="a free-direction corner grid, rewritten by every draw"
  [tempv]="a free-direction corner grid, rewritten by every draw"
  [tempz]="a free-direction corner grid, rewritten by every draw"
  [rotmatrix]="the free-direction camera's rotation, rebuilt by every draw"
  [origin]="free-direction ray work, rebuilt by every draw"
  [direction]="free-direction ray work, rebuilt by every draw"
  [rdirection]="free-direction ray work, rebuilt by every draw"
  [intersection]="free-direction ray work, rebuilt by every draw"
  [lasty]="the voxel columns' work, reset by every draw"
  [lastcr]="the voxel columns' work, reset by every draw"
  [lastcg]="the voxel columns' work, reset by every draw"
  [lastcb]="the voxel columns' work, reset by every draw"
  [scape_sintab]="an angle table, filled at start-up"
  [scape_costab]="an angle table, filled at start-up"
  [voxel_heightmap]="the landscape's heights, read at start-up"
  [voxel_colorbmp]="the landscape's colours, a picture loaded at start-up"
  [voxel_skybmp]="the sky, a picture loaded at start-up"
  [show_assets]="the constant table of the show's files and records (relocated at load, never written)"
  [music_frame]="the output frame the music starts on, set once at start-up for the wait until it is heard"
  [music_started]="the clock when the music was started, set once at start-up for the same wait"
  [fixed]="the fixed clock's rate and hooks, set once when a tool takes the show over"
  [fixedclock_frame_no]="the next frame's number, kept with every saved point as its frame"
  [sound]="the fixed clock's buffer of one frame's sound, refilled by every swap"
  ["scene_credits()::pictures"]="the credits' pictures, a table set at load and never written (kept as data without optimisation)"
)
# The pictures and sprites start-up loads (a reload replaces one between frames; the
# show only reads them). bmp_bg is the one the show draws into: a hook.
loaded='^(bmp_[a-z0-9]+|spr_[a-z0-9]+)$'

# The list itself, read from the header: the names inside SHOW_STATE's X(...).
listed=$(sed -n '/^#define SHOW_STATE(X)/,/^$/p' "$src/demo/state.h" | grep -o 'X([A-Za-z_][A-Za-z_0-9]*)' |
         sed 's/^X(//; s/)$//' | sort -u)
[ "$(echo "$listed" | wc -w)" -ge 20 ] || fail "could not read SHOW_STATE from demo/state.h ($listed)"

# The demo's objects: one per demo/*.cpp that goes into the library.
objs=$(cd "$src/demo" && ls *.cpp | grep -v '^entry\.cpp$' | sed 's/$/.o/')
syms=$(nm -C -A "$lib" 2>/dev/null | while IFS= read -r line; do
    head=${line%% *}; rest=${line#* }          # lib:object:address, then "type name"
    obj=${head#*:}; obj=${obj%%:*}
    type=${rest%% *}; name=${rest#* }
    case " $(echo $objs) " in *" $obj "*) ;; *) continue ;; esac
    case $type in B|D|b|d) ;; *) continue ;; esac
    case $name in __*|.*|"guard variable"*|DW.ref.*) continue ;; esac  # the compiler's and sanitizers' own
    echo "$obj $name"
done | sort -u)
[ -n "$syms" ] || fail "no writable globals found in the demo's objects of $lib"

bad=0 n=0 state=0
while IFS= read -r l; do
    obj=${l%% *}; name=${l#* }
    n=$((n + 1))
    if echo "$listed" | grep -qxF -- "$name"; then state=$((state + 1)); continue; fi
    case " $hooks " in *" $name "*) state=$((state + 1)); continue ;; esac
    [ -n "${why[$name]+x}" ] && continue
    [[ $name =~ $loaded ]] && continue
    echo "not in the show's state and not known to be rebuilt: $name ($obj)"
    bad=$((bad + 1))
done <<<"$syms"
# A listed name that is not a global of the demo or the engine is a stale entry.
for v in $listed; do
    nm -C "$lib" 2>/dev/null | grep -qE " [BDbd] $v\$" || { echo "listed but not in the library: $v"; bad=$((bad + 1)); }
done
[ $bad -eq 0 ] || fail "$bad globals: add each to SHOW_STATE in demo/state.h, or to this test's list with the reason"
echo "ok: $n writable globals of the demo's objects: $state are the show's state (list or hooks), the rest rebuilt or set at start-up"
