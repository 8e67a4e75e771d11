# cmake -DINPUT=data/Wall.jpg -DOUTPUT=WallPicture.cpp -DNAME=Wall -P StoredPicture.cmake
#
# Writes a C++ source defining Stored<NAME>Picture (declared in app/ScenePictures.h): the JPEG
# file INPUT in the form a stored picture takes, one length byte, the class name "TJPEGImage",
# the file's byte count as 32-bit little-endian and the file's bytes.
foreach(variable INPUT OUTPUT NAME)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "StoredPicture.cmake needs -D${variable}=...")
  endif()
endforeach()

set(class_name "TJPEGImage")
string(LENGTH "${class_name}" name_length)
file(SIZE "${INPUT}" size)
if(size GREATER 4294967295)
  message(FATAL_ERROR "${INPUT}: too large for a stored picture")
endif()

# Every byte as two lower-case hexadecimal digits: the header, then the file.
function(append_byte variable value)
  # 256 + value always has three hexadecimal digits, of which the last two are the byte.
  math(EXPR byte "(${value}) & 255 | 256" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${byte}" 3 2 byte)
  set(${variable} "${${variable}}${byte}" PARENT_SCOPE)
endfunction()

set(stored "")
append_byte(stored ${name_length})
string(HEX "${class_name}" class_bytes)
string(APPEND stored "${class_bytes}")
foreach(shift 0 8 16 24)
  append_byte(stored "${size} >> ${shift}")
endforeach()
file(READ "${INPUT}" bytes HEX)
string(APPEND stored "${bytes}")

# Sixteen bytes a line.
string(REPEAT "[0-9a-f]" 32 line_pattern)
string(REGEX REPLACE "(${line_pattern})" "\\1\n" stored "${stored}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," stored "${stored}")

file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by cmake/StoredPicture.cmake.\n"
  "#include \"app/ScenePictures.h\"\n\n"
  "namespace {\n\n"
  "const uint8_t cStored[] = {\n${stored}\n};\n\n"
  "} // namespace\n\n"
  "const std::span<const uint8_t> Stored${NAME}Picture{cStored};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
