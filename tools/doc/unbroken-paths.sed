# Marks every word of the manual page's text that holds a path ("/") or a
# job results file name ("ci_push") with \%, so that groff neither
# hyphenates it nor breaks it at a hyphen of its own: a path split across
# lines cannot be copied. Control lines (".TH", "'...") stay as they are.
/^[.']/!s#(^|[[:space:]])([^[:space:]]*(/|ci_push)[^[:space:]]*)#\1\\%\2#g
