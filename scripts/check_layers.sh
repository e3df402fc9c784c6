#!/usr/bin/env bash
# The layers of the source, checked line by line: every system interface is behind
# src/platform (nothing else opens a file or uses std::filesystem), and the
# platform uses nothing of the program above it. Prints each line that breaks a
# rule as FILE:LINE with the rule, and fails (status 1) when there is one.
# Comment lines are not checked.
set -euo pipefail
cd "$(dirname "$0")/.."

broken=0

# One rule: the C++ files under FOLDER, less those that start with one of the
# EXCEPT paths (separated by spaces), must have no line that matches FORBIDDEN
# (grep -E) unless it also matches ALLOWED (grep -E; empty: none is).
rule() {
  local folder=$1 except=$2 forbidden=$3 allowed=$4 why=$5
  local hit file rest line text path skip
  while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    text=${rest#*:}
    skip=0
    for path in $except; do
      [[ $file == "$path"* ]] && skip=1
    done
    [[ $text =~ ^[[:space:]]*// ]] && skip=1
    [ -n "$allowed" ] && [[ $text =~ $allowed ]] && skip=1
    [ $skip = 1 ] && continue
    echo "$file:$line: $why: $text"
    broken=1
  done < <(grep -rnE --include='*.cpp' --include='*.h' -- "$forbidden" "$folder" | sort -t: -k1,1 -k2,2n || true)
}

outside_platform="src/platform/"

#    FOLDER         EXCEPT               FORBIDDEN                                     ALLOWED                       WHY
rule src/           "$outside_platform"  'std::fopen|fopen[[:space:]]*\('              ''                            'files are opened through platform/files.h'
rule src/           "$outside_platform"  'std::(i|o|)fstream'                          ''                            'files are opened through platform/files.h'
rule src/           "$outside_platform"  'std::filesystem|#include[[:space:]]*<(filesystem|fstream)>' '' 'paths and folders go through platform/files.h'
rule src/platform/  ""                   '#include[[:space:]]*"'                       '#include[[:space:]]*"platform/' 'the platform includes nothing above it'
rule python/module/ ""                   'std::fopen|fopen[[:space:]]*\(|std::(i|o|)fstream|std::filesystem|#include[[:space:]]*<(filesystem|fstream)>' '' 'the module opens files through the program'"'"'s libraries'
# The program knows nothing of Python: the bindings include it, never the reverse.
rule src/           ""                   '#include[[:space:]]*[<"](pybind11/|Python\.h)' ''                           'only python/module includes Python'

# Which folder may include which: each folder's project includes come from the
# folders listed (its own always), so the libraries form no cycle and the
# numerical core (model, parallel, engine, fit, robust, stats, ensemble,
# displacement) never
# includes the platform, the report or the commands.
includes() {
  local folder=$1 allowed=$2
  rule "src/$folder/" "" '#include[[:space:]]*"' "#include[[:space:]]*\"($folder|${allowed// /|})/" \
    "src/$folder may include only ${allowed:-nothing else}"
}
#        FOLDER     MAY INCLUDE
includes control   ""
includes model     ""
includes parallel  ""
includes engine    "model parallel"
includes fit       "model engine control"
includes robust    "model fit control"
includes stats     "model engine"
includes start     ""
includes ensemble  "model fit parallel control start"
includes scan      "model fit ensemble stats control"
includes displacement "model fit ensemble control"
includes formats   "model control platform"
includes report    "control"
includes readback  "report control platform"
includes measured  "control platform"
includes prepare   "start measured formats control platform"
includes output    "model fit robust stats formats control platform"
includes report_folder "model fit displacement ensemble stats output report readback formats control platform"
rule src/tarnok.cpp "" '#include[[:space:]]*"' '#include[[:space:]]*"(app|control|platform)/' \
  'the main includes only the commands, control and the platform'
# The engine's detail is its own: everything else uses engine/engine.h.
rule src/ "src/engine/" '#include[[:space:]]*"engine/detail/' '' 'the engine is used through engine/engine.h only'
# The Python module binds the libraries below the commands: never app/ or the engine's detail.
rule python/module/ "" '#include[[:space:]]*"(app|engine/detail)/' '' 'the module uses the libraries, not the commands or the engine'"'"'s detail'

if [ $broken = 1 ]; then
  echo "check_layers: the rules above are broken" >&2
  exit 1
fi
echo "check_layers: every rule holds"
