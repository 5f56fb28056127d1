# One line from ctest's JUnit report (ctest --output-junit FILE): the tests
# passed, failed and skipped, each skipped test with the reason its own
# output gives (the line after GoogleTest's "Skipped", or a script's line
# "skipped: REASON").
# Usage: awk -v variant=NAME -f scripts/junit_summary.awk FILE
/^[[:space:]]*tests="[0-9]+"/ { tests = $0; gsub(/[^0-9]/, "", tests) }
/^[[:space:]]*failures="[0-9]+"/ { failures = $0; gsub(/[^0-9]/, "", failures) }
/^[[:space:]]*skipped="[0-9]+"/ { skipped = $0; gsub(/[^0-9]/, "", skipped) }
/<testcase / {
  if (pending != "") reasons = reasons (reasons == "" ? "" : "; ") pending ": no reason given"
  name = $0; sub(/.*<testcase name="/, "", name); sub(/".*/, "", name)
  pending = ($0 ~ /status="notrun"/) ? name : ""
  reasonNext = 0
  next
}
pending != "" && reasonNext {
  reasons = reasons (reasons == "" ? "" : "; ") pending ": " $0
  pending = ""; reasonNext = 0
  next
}
pending != "" && /: Skipped$/ { reasonNext = 1 }
pending != "" && /(<system-out>|^[[:space:]]*)skipped: / {
  reason = $0; sub(/.*skipped: /, "", reason)
  reasons = reasons (reasons == "" ? "" : "; ") pending ": " reason
  pending = ""
  next
}
END {
  if (pending != "") reasons = reasons (reasons == "" ? "" : "; ") pending ": no reason given"
  printf "%s: %d passed, %d failed, %d skipped%s\n", variant, tests - failures - skipped, failures, skipped,
         reasons == "" ? "" : " (" reasons ")"
}
