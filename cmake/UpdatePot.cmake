# Replaces POT with RAW (fresh xgettext output) only when the messages
# differ: the creation date alone does not count, so the template in the
# source tree changes only with the texts.
file(READ ${RAW} raw)
set(old "")
if(EXISTS ${POT})
  file(READ ${POT} old)
endif()
string(REGEX REPLACE "\"POT-Creation-Date: [^\"]*\"\n" "" raw_cmp "${raw}")
string(REGEX REPLACE "\"POT-Creation-Date: [^\"]*\"\n" "" old_cmp "${old}")
if(NOT raw_cmp STREQUAL old_cmp)
  get_filename_component(dir ${POT} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  # Through a temporary name: builds in several folders may run at once.
  string(RANDOM LENGTH 8 tag)
  file(WRITE ${POT}.${tag}.tmp "${raw}")
  file(RENAME ${POT}.${tag}.tmp ${POT})
endif()
