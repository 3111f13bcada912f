# Runs velka-pdu as a person at a terminal would and checks its output and exit
# status. Called by ctest with -DTOOL=<path of velka-pdu>.

function(expect_run expected_status expected_output)
    execute_process(COMMAND ${TOOL} ${ARGN}
        RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT status STREQUAL expected_status)
        message(FATAL_ERROR "velka-pdu ${ARGN}: exit status ${status}, expected ${expected_status}\n${output}${errors}")
    endif()
    if(NOT output STREQUAL expected_output)
        message(FATAL_ERROR "velka-pdu ${ARGN}: printed\n${output}expected\n${expected_output}")
    endif()
    if(NOT expected_status STREQUAL "0" AND errors STREQUAL "")
        message(FATAL_ERROR "velka-pdu ${ARGN}: failed without a message on stderr")
    endif()
endfunction()

expect_run(0 "pdu: 0011000B911732547698F00000FF02C834\ntpdu_length: 16\n"
    encode +71234567890 Hi)
expect_run(0 "pdu: 0051000B911732547698F00008FF0C0500030A0201041F04400438\ntpdu_length: 26\n"
    encode --udh 0500030A0201 +71234567890 При)
expect_run(0 "pdu: 0011000B911732547698F00008FF06041F04400438\ntpdu_length: 20\n"
    encode --coding 2 --hex-text +71234567890 CFF0E8)
expect_run(0 "sender: +71234567890\ntimestamp: 06.12.2026 20:52:41\nudh: \ntext: Hi\n"
    decode 07910700000000F0040B911732547698F000006221600225142102C834)
expect_run(0 "sender: 2B3731323334353637383930\ntimestamp: 30362E31322E323032362032303A35323A3431\nudh: 303530303033304130323031\ntext: CFF0E8\n"
    decode --hex 07910700000000F0440B911732547698F00008622160022514210C0500030A0201041F04400438)

# A time stamp that is not a date: the rest is still shown.
expect_run(2 "sender: +71234567890\ntimestamp: \nudh: \ntext: Hi\n"
    decode 07910700000000F0040B911732547698F000006200600225142102C834)

# One SMS exactly: 70 Russian letters fill the 140 octets of user data.
string(REPEAT "А" 70 seventy_letters)
string(REPEAT "0410" 70 seventy_letters_ucs2)
expect_run(0 "pdu: 0011000B911732547698F00008FF8C${seventy_letters_ucs2}\ntpdu_length: 154\n"
    encode +71234567890 ${seventy_letters})

# Bad input: a message on stderr, nothing on stdout, exit status 2.
expect_run(2 "" encode "+7123 45" Hi)
expect_run(2 "" encode --udh 05000 +71234567890 Hi)
expect_run(2 "" encode --coding 1 +71234567890 Hi)
expect_run(2 "" encode --hex-text +71234567890 CFF)
expect_run(2 "" encode +71234567890)
# More than one SMS holds: user data over 140 octets, over 160 septets, and
# addresses over 20 digits, whose length octets would not fit two digits.
string(REPEAT "А" 80 eighty_letters)
string(REPEAT "А" 128 letters_128)
string(REPEAT "a" 161 latin_161)
string(REPEAT "7" 21 digits_21)
string(REPEAT "7" 256 digits_256)
expect_run(2 "" encode +71234567890 ${eighty_letters})
expect_run(2 "" encode +71234567890 ${letters_128})
expect_run(2 "" encode +71234567890 ${latin_161})
expect_run(2 "" encode --udh 0500030A0201 --coding 2 +71234567890 ${eighty_letters})
expect_run(2 "" encode +${digits_21} Hi)
expect_run(2 "" encode ${digits_256} Hi)
expect_run(2 "" decode 0791XYZ)
expect_run(2 "" decode)
expect_run(2 "" frobnicate)
