# What the player plays, by MIME type (shared-mime-info's names): the desktop entry, the metainfo
# and MPRIS's SupportedMimeTypes are all made from this one list, so they never disagree.
set(MOVARIN_MIME_TYPES
  video/x-flv video/flv
  video/mp2t video/mpeg
  video/ogg video/x-theora+ogg application/ogg audio/ogg audio/x-vorbis+ogg audio/x-opus+ogg
  video/x-matroska audio/x-matroska video/webm audio/webm
  video/mp4 video/quicktime audio/mp4 video/3gpp video/3gpp2
  video/x-msvideo
  video/x-ms-wmv application/vnd.ms-asf audio/x-ms-wma
  application/vnd.rn-realmedia video/vnd.rn-realvideo audio/vnd.rn-realaudio
  audio/mpeg audio/aac audio/ac3 audio/flac audio/x-wav audio/x-aiff)

# The desktop entry's MimeType value: each type followed by a semicolon.
list(JOIN MOVARIN_MIME_TYPES ";" MOVARIN_DESKTOP_MIME_TYPES)
string(APPEND MOVARIN_DESKTOP_MIME_TYPES ";")
# The metainfo's <mediatype> lines.
list(TRANSFORM MOVARIN_MIME_TYPES PREPEND "    <mediatype>" OUTPUT_VARIABLE _movarin_mediatypes)
list(TRANSFORM _movarin_mediatypes APPEND "</mediatype>")
list(JOIN _movarin_mediatypes "\n" MOVARIN_METAINFO_MEDIATYPES)
# The C++ array's items.
list(TRANSFORM MOVARIN_MIME_TYPES PREPEND "\"" OUTPUT_VARIABLE _movarin_quoted)
list(TRANSFORM _movarin_quoted APPEND "\"")
list(JOIN _movarin_quoted ",\n    " MOVARIN_CXX_MIME_TYPES)
