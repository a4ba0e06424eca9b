#!/usr/bin/env bash
# Fails unless the library exports the sixteen names and nothing else (the
# constructor may appear under both of the compiler's aliases).
set -euo pipefail
lib=$1
expected="FaceBookCheckIn FaceBookDelete FaceBookEvents FaceBookNotes FaceBookNotesDelete FaceBookNotesEdit
FaceBookNotesView FaceBookPictureUpload FaceBookStatus FaceBookToken FaceBookTokenGraph FaceBookVideoUpload
_Z11fnVantrelFBv _ZN10CVantrelFBC1Ev _ZN10CVantrelFBC2Ev _ZN10CVantrelFBaSERKS_ nVantrelFB"
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
want=$(echo $expected | tr ' ' '\n' | sort)
if [ "$actual" != "$want" ]; then
  echo "export table differs:"; diff <(echo "$want") <(echo "$actual"); exit 1
fi
echo "exports: 17 symbols (16 exports, constructor with both aliases)"
