# Turns the standard test data in HSIM_DATA_DIR into C++ initialisers for the
# built-in tables. Runs at configure time with nothing but CMake, so the native
# and the cross build do the same, and it takes about a second.
#
# Everything written goes to the build directory:
#   hsim_table_sources.h  which tables hold published data and where it came from
#   hsim_iec227w.inc      initialiser of IEC227W: 10 x 66000 microvolt integers
#   hsim_iec251w.inc      initialiser of IEC251W when the data is present
#   hsim_ane20000.inc     initialiser of ANE20000 when the data is present
# A table whose data is missing or does not check out gets its built-in
# stand-in, and the configure step prints a warning saying so. The build never
# fails because of the data.

# The ten IEC 60601-2-27 records in table order, and their sample counts. The
# counts are fixed: IEC227WL is defined from them, whatever the data holds.
set(HSIM_IEC227W_RECORDS aami3a aami3b aami3c aami3d aami4a aami4a_d aami4a_h aami4b aami4b_d aami4b_h)
set(HSIM_IEC227W_COUNTS 43081 43142 43144 34511 65211 65214 65207 65238 65239 65237)
set(HSIM_IEC227W_STRIDE 66000)
set(HSIM_IEC227W_STANDIN_PERIOD 720)  # one stand-in beat per second

# Writes a file only when its content changes, so a re-configure does not
# recompile the tables.
function(hsim_write_if_changed path content)
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${content}")
endfunction()

# C string literal of a text (for the provenance texts).
function(hsim_c_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# Splits one line of a WFDB header into its blank-separated fields.
function(hsim_fields out line)
  string(STRIP "${line}" line)
  string(REGEX REPLACE "[ \t]+" ";" line "${line}")
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

# Reads a text file of one integer (microvolts) per line. On success sets
# <out_values> to the comma-separated values and <out_error> to "", otherwise
# <out_error> says what is wrong. Leading zeros are dropped (C would read them
# as octal) and values are limited to 7 digits so that they fit an int32.
function(hsim_read_uv_file path expected out_values out_error)
  set(${out_values} "" PARENT_SCOPE)
  if(NOT EXISTS "${path}")
    set(${out_error} "${path} is missing" PARENT_SCOPE)
    return()
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
  file(STRINGS "${path}" lines)
  list(LENGTH lines count)
  if(NOT count EQUAL expected)
    set(${out_error} "${path} has ${count} lines, expected ${expected}" PARENT_SCOPE)
    return()
  endif()
  string(REGEX REPLACE "[ \t\r]" "" text "${lines}")
  string(REGEX MATCHALL "[-+]?[0-9]+" numbers "${text}")
  list(LENGTH numbers found)
  string(REGEX REPLACE "[-+]?[0-9]+" "" rest "${text}")
  string(REGEX MATCH "[^;]" junk "${rest}")
  string(REGEX MATCH "[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]" huge "${text}")
  if(NOT found EQUAL expected OR NOT junk STREQUAL "" OR NOT huge STREQUAL "")
    set(${out_error} "${path} does not hold one integer (at most 7 digits) on each line" PARENT_SCOPE)
    return()
  endif()
  string(REGEX REPLACE ";([-+]?)0+([0-9])" ";\\1\\2" text ";${text}")
  string(SUBSTRING "${text}" 1 -1 text)
  string(REPLACE ";" "," text "${text}")
  set(${out_values} "${text}," PARENT_SCOPE)
  set(${out_error} "" PARENT_SCOPE)
endfunction()

# Converts the ten WFDB records of IEC227W/wfdb to microvolts:
# uV = (code - 2048) * 1000 / gain, rounded half away from zero, computed
# exactly in integers (CMake's division truncates toward zero like C's, so
# adding the sign times half the gain first rounds half away from zero; with an
# odd gain no quotient ends in exactly .5 and the same sum still rounds right).
# The bytes become one U(0xHHLL) token per 16-bit little-endian sample, and
# each distinct token (a record uses a few hundred codes) is replaced by its
# value, which takes about a second for all ten records.
# Checks every header against what the table needs: one signal at 720 per
# second, the expected sample count, format 16, a plain integer gain in
# adu/mV, 12-bit ADC with zero 2048, the file size, every code inside
# 0..4095 and the first sample equal to the header's initial value (this
# catches a byte-order slip).
function(hsim_iec227w_from_wfdb dir out_ok out_text out_error)
  set(${out_ok} FALSE PARENT_SCOPE)
  set(text "")
  set(row 0)
  foreach(record IN LISTS HSIM_IEC227W_RECORDS)
    list(GET HSIM_IEC227W_COUNTS ${row} count)
    set(hea "${dir}/${record}.hea")
    set(dat "${dir}/${record}.dat")
    if(NOT EXISTS "${hea}" OR NOT EXISTS "${dat}")
      set(${out_error} "record ${record} is missing in ${dir}" PARENT_SCOPE)
      return()
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${hea}" "${dat}")
    file(STRINGS "${hea}" lines REGEX "^[ \t]*[^# \t\r]")
    list(LENGTH lines nlines)
    if(nlines LESS 2)
      set(${out_error} "${hea} has no signal line" PARENT_SCOPE)
      return()
    endif()
    list(GET lines 0 recordLine)
    list(GET lines 1 signalLine)
    hsim_fields(rec "${recordLine}")
    hsim_fields(sig "${signalLine}")
    list(LENGTH rec nrec)
    list(LENGTH sig nsig)
    if(nrec LESS 4 OR nsig LESS 6)
      set(${out_error} "${hea} is incomplete" PARENT_SCOPE)
      return()
    endif()
    list(GET rec 1 signals)
    list(GET rec 2 rate)
    list(GET rec 3 samples)
    list(GET sig 0 file)
    list(GET sig 1 format)
    list(GET sig 2 gain)
    list(GET sig 3 bits)
    list(GET sig 4 zero)
    list(GET sig 5 initial)
    if(NOT signals STREQUAL "1" OR NOT rate MATCHES "^720(\\.0*)?$" OR NOT samples STREQUAL "${count}")
      set(${out_error} "${hea}: expected 1 signal at 720/s with ${count} samples, found '${recordLine}'" PARENT_SCOPE)
      return()
    endif()
    if(NOT file STREQUAL "${record}.dat" OR NOT format STREQUAL "16" OR NOT bits STREQUAL "12" OR NOT zero STREQUAL "2048")
      set(${out_error} "${hea}: expected ${record}.dat, format 16, 12 bits, ADC zero 2048, found '${signalLine}'" PARENT_SCOPE)
      return()
    endif()
    if(NOT gain MATCHES "^([1-9][0-9]?[0-9]?[0-9]?[0-9]?)(/mV)?$")
      set(${out_error} "${hea}: the gain '${gain}' is not a plain integer in adu/mV" PARENT_SCOPE)
      return()
    endif()
    set(gain "${CMAKE_MATCH_1}")
    if(NOT initial MATCHES "^[0-9]+$")
      set(${out_error} "${hea}: the initial value '${initial}' is not an ADC code" PARENT_SCOPE)
      return()
    endif()
    file(SIZE "${dat}" size)
    math(EXPR expectedSize "2 * ${count}")
    if(NOT size EQUAL expectedSize)
      set(${out_error} "${dat} has ${size} bytes, expected ${expectedSize}" PARENT_SCOPE)
      return()
    endif()
    file(READ "${dat}" hex HEX)
    string(REGEX REPLACE "(..)(..)" "U(0x\\2\\1)," entries "${hex}")
    # A 12-bit code has a high byte of 0x00..0x0F.
    string(REGEX MATCH "U\\(0x[^0]" wide "${entries}")
    if(NOT wide STREQUAL "")
      set(${out_error} "${dat} holds codes outside 0..4095" PARENT_SCOPE)
      return()
    endif()
    string(SUBSTRING "${entries}" 2 6 first)
    math(EXPR first "${first}")
    if(NOT first EQUAL initial)
      set(${out_error} "${dat}: the first sample ${first} differs from the header's initial value ${initial}" PARENT_SCOPE)
      return()
    endif()
    string(REGEX MATCHALL "U\\(0x[0-9a-f]+\\)" codes "${entries}")
    list(REMOVE_DUPLICATES codes)
    math(EXPR half "${gain} / 2")
    foreach(token IN LISTS codes)
      string(SUBSTRING "${token}" 2 6 code)
      math(EXPR scaled "(${code} - 2048) * 1000")
      if(scaled LESS 0)
        math(EXPR uv "(${scaled} - ${half}) / ${gain}")
      else()
        math(EXPR uv "(${scaled} + ${half}) / ${gain}")
      endif()
      string(REPLACE "${token}" "${uv}" entries "${entries}")
    endforeach()
    math(EXPR pad "${HSIM_IEC227W_STRIDE} - ${count}")
    string(REPEAT "0," ${pad} padding)
    string(APPEND text "// pattern ${row}: ${record}, gain ${gain} adu/mV\n${entries}\n${padding}\n")
    math(EXPR row "${row} + 1")
  endforeach()
  set(${out_ok} TRUE PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
  set(${out_error} "" PARENT_SCOPE)
endfunction()

# Reads the derived microvolt files IEC227W/uv/p<i>_<record>.uv.txt, used when
# the WFDB originals are not there. Entries are plain integers.
function(hsim_iec227w_from_uv dir out_ok out_text out_error)
  set(${out_ok} FALSE PARENT_SCOPE)
  set(text "")
  set(row 0)
  foreach(record IN LISTS HSIM_IEC227W_RECORDS)
    list(GET HSIM_IEC227W_COUNTS ${row} count)
    hsim_read_uv_file("${dir}/p${row}_${record}.uv.txt" ${count} values error)
    if(NOT error STREQUAL "")
      set(${out_error} "${error}" PARENT_SCOPE)
      return()
    endif()
    math(EXPR pad "${HSIM_IEC227W_STRIDE} - ${count}")
    string(REPEAT "0," ${pad} padding)
    string(APPEND text "// pattern ${row}: ${record}\n${values}\n${padding}\n")
    math(EXPR row "${row} + 1")
  endforeach()
  set(${out_ok} TRUE PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
  set(${out_error} "" PARENT_SCOPE)
endfunction()

# The IEC227W stand-in: in pattern p a 100 ms triangle peaking at
# (p + 1) x 100 uV at 50 ms, once per second (720 samples), up to the
# pattern's own length, then zeros. The patterns differ in amplitude so that a
# wrong row shows.
function(hsim_iec227w_standin out_text)
  math(EXPR last "${HSIM_IEC227W_STANDIN_PERIOD} - 1")
  set(text "")
  set(row 0)
  foreach(count IN LISTS HSIM_IEC227W_COUNTS)
    math(EXPR peak "(${row} + 1) * 100")
    set(items "")
    foreach(j RANGE ${last})
      if(j LESS 36)
        math(EXPR v "${peak} * ${j} / 36")
      elseif(j LESS 72)
        math(EXPR v "${peak} * (72 - ${j}) / 36")
      else()
        set(v 0)
      endif()
      list(APPEND items ${v})
    endforeach()
    list(JOIN items "," period)
    math(EXPR whole "${count} / ${HSIM_IEC227W_STANDIN_PERIOD}")
    math(EXPR part "${count} % ${HSIM_IEC227W_STANDIN_PERIOD}")
    math(EXPR pad "${HSIM_IEC227W_STRIDE} - ${count}")
    string(REPEAT "${period},\n" ${whole} body)
    set(partText "")
    if(part GREATER 0)
      list(SUBLIST items 0 ${part} partItems)
      list(JOIN partItems "," partText)
      string(APPEND partText ",\n")
    endif()
    string(REPEAT "0," ${pad} padding)
    string(APPEND text "// pattern ${row}: stand-in\n${body}${partText}${padding}\n")
    math(EXPR row "${row} + 1")
  endforeach()
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

# A table of <rows> rows of 1000 samples from <dir>/<prefix><i>.uv.txt.
function(hsim_rows_from_uv dir prefix rows out_ok out_text out_error)
  set(${out_ok} FALSE PARENT_SCOPE)
  set(text "")
  math(EXPR last "${rows} - 1")
  foreach(row RANGE ${last})
    hsim_read_uv_file("${dir}/${prefix}${row}.uv.txt" 1000 values error)
    if(NOT error STREQUAL "")
      set(${out_error} "${error}" PARENT_SCOPE)
      return()
    endif()
    string(APPEND text "${values}\n")
  endforeach()
  set(${out_ok} TRUE PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
  set(${out_error} "" PARENT_SCOPE)
endfunction()

function(hsim_generate_standard_tables data_dir out_dir)
  file(MAKE_DIRECTORY "${out_dir}")
  if(NOT data_dir STREQUAL "")
    get_filename_component(data_dir "${data_dir}" ABSOLUTE)
  endif()
  set(standin_analytic "stand-in: analytic shapes, not the published data")

  # IEC227W: the WFDB originals, else the derived microvolt files, else the stand-in.
  set(iec227w_published 0)
  set(iec227w_ok FALSE)
  if(data_dir STREQUAL "")
    set(error "no standard test data found (data/standards, ../shared/data/standards or HSIM_DATA_DIR)")
  elseif(EXISTS "${data_dir}/IEC227W/wfdb")
    hsim_iec227w_from_wfdb("${data_dir}/IEC227W/wfdb" iec227w_ok text error)
    if(iec227w_ok)
      set(iec227w_source "PhysioNet aami-ec13 1.0.0 (ODC-By 1.0), converted from WFDB records in ${data_dir}/IEC227W/wfdb")
    endif()
  elseif(EXISTS "${data_dir}/IEC227W/uv")
    hsim_iec227w_from_uv("${data_dir}/IEC227W/uv" iec227w_ok text error)
    if(iec227w_ok)
      set(iec227w_source "PhysioNet aami-ec13 1.0.0 (ODC-By 1.0), microvolt files derived from the WFDB records, in ${data_dir}/IEC227W/uv")
    endif()
  else()
    set(error "no IEC227W/wfdb or IEC227W/uv in ${data_dir}")
  endif()
  if(iec227w_ok)
    set(iec227w_published 1)
  else()
    message(WARNING "IEC227W: ${error}. The library gets the STAND-IN table "
                    "(a 100 ms triangle once per second in every pattern), NOT the published test ECGs. "
                    "Run tools/fetch-standards.sh to fetch PhysioNet's published records into data/standards "
                    "(1.2 MB, checked against their SHA-256 sums), then re-run cmake.")
    hsim_iec227w_standin(text)
    set(iec227w_source "stand-in: a triangle beat once per second, not the published data")
  endif()
  hsim_write_if_changed("${out_dir}/hsim_iec227w.inc" "${text}")

  # IEC251W and ANE20000: commercial data, used when the owner put it in.
  foreach(table IEC251W ANE20000)
    if(table STREQUAL "IEC251W")
      set(prefix "p")
      set(rows 16)
      set(inc "hsim_iec251w.inc")
    else()
      set(prefix "lead")
      set(rows 9)
      set(inc "hsim_ane20000.inc")
    endif()
    set(ok FALSE)
    set(text "")
    if(data_dir STREQUAL "")
      set(error "no standard test data found")
    elseif(EXISTS "${data_dir}/${table}")
      hsim_rows_from_uv("${data_dir}/${table}" "${prefix}" ${rows} ok text error)
    else()
      set(error "no ${table} folder in ${data_dir}")
    endif()
    if(ok)
      set(${table}_published 1)
      set(${table}_source "published data supplied by its owner: microvolt files in ${data_dir}/${table}")
    else()
      message(WARNING "${table}: ${error}. The library gets the STAND-IN table "
                      "(analytic shapes with the stated amplitude envelopes), NOT the published data. "
                      "See synth/tables/README.md for how to build the real data in.")
      set(${table}_published 0)
      set(${table}_source "${standin_analytic}")
      set(text "")
    endif()
    hsim_write_if_changed("${out_dir}/${inc}" "${text}")
  endforeach()

  hsim_c_string(iec227w_literal "${iec227w_source}")
  hsim_c_string(iec251w_literal "${IEC251W_source}")
  hsim_c_string(ane20000_literal "${ANE20000_source}")
  hsim_write_if_changed("${out_dir}/hsim_table_sources.h"
"// Generated by the build from the standard test data; do not edit.
#pragma once

#define HSIM_IEC227W_PUBLISHED ${iec227w_published}
#define HSIM_IEC227W_SOURCE ${iec227w_literal}
#define HSIM_IEC251W_PUBLISHED ${IEC251W_published}
#define HSIM_IEC251W_SOURCE ${iec251w_literal}
#define HSIM_ANE20000_PUBLISHED ${ANE20000_published}
#define HSIM_ANE20000_SOURCE ${ane20000_literal}
")
endfunction()
