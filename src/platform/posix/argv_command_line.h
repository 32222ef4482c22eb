// The raw command line built from the argument vector.
#ifndef BREVLIN_PLATFORM_POSIX_ARGV_COMMAND_LINE_H_
#define BREVLIN_PLATFORM_POSIX_ARGV_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace plat {
namespace posix {

// Builds the command line that a Windows program would receive for these
// arguments (the program's own path first).
//
// File names on this system use "/", which the program's command line
// reserves for its options, so every "/" in an argument becomes "\", with two
// exceptions: the leading "/" of an argument that begins with "/IC" or "/IP"
// in any letter case (so "/IC/opt/x.cfg" gives "/IC\opt\x.cfg"), and an
// argument with no "/" after its first character, which is a switch such as
// "/S" and stays as it is (so a path of one level, "/tmp", has to be written
// "/tmp/"). The arguments are joined with single spaces; one that is empty or
// holds a space, a tab or another control character is enclosed in double
// quotes, so that it stays one argument.
std::string BuildCommandLine(const std::vector<std::string>& arguments);

}  // namespace posix
}  // namespace plat

#endif  // BREVLIN_PLATFORM_POSIX_ARGV_COMMAND_LINE_H_
