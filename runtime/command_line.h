// Splitting of the process command line into words. The program entry
// splits it once; the start-up keeps what the run needs of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The program's own name comes first. Words are separated by runs of
// characters up to and including the blank (control characters separate
// too); a stretch between double quotes belongs to one word and the quotes
// are dropped; an unclosed quote runs to the end.
std::vector<std::string> SplitCommandLine(std::string_view line);
