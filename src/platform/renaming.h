#pragma once
#include <functional>
#include <string>

namespace veldrano::platform {

// Renames from (in the directory open as fromDir) to to (in toDir) without
// replacing anything: 0, or errno (EEXIST when to is taken). File systems
// that cannot promise that get a plain rename after a check that to is
// free.
int RenameNoReplace(int fromDir, const std::string& from, int toDir, const std::string& to);

// Swaps the files named a and b in the directory open as folder in one
// step: 0, or errno (EINVAL where the file system cannot swap).
int ExchangeNames(int folder, const std::string& a, const std::string& b);

// ".veldrano-" and ten random letters and digits: hidden, and not a name
// anyone else can count on.
std::string RandomDotName();

// Makes something under a fresh random dot-name: make(name) creates it
// exclusively and returns 0 or errno; a name taken (EEXIST) gives way to
// another. 0 with the name made in name, or the errno of the last try.
int MakeUnderFreshName(const std::function<int(const std::string&)>& make, std::string& name);

}  // namespace veldrano::platform
