#ifndef KESTRN_TESTS_TEXTS_H
#define KESTRN_TESTS_TEXTS_H

#include "process.h"

#include <string>

// What the tool writes, byte for byte.
const std::string usage_text = "\r\nKestrane 1.00\r\nUsage: Kestrn <filename>\r\n";
const std::string locked_text =
    "\r\nKestrane: The file does not exist or is locked by another process\r\n";
const std::string free_text = "\r\nKestrane: The file is not locked\r\n";

// One of the two verdicts, with its exit code: an answer, whatever it is.
inline bool is_verdict(const run_result &r)
{
    return (r.exit_code == 0 && r.out == free_text) || (r.exit_code == 1 && r.out == locked_text);
}

#endif
