// Names of the files the sky program writes beside the ones it reads.
#ifndef DORNEL_FILE_NAMES_H
#define DORNEL_FILE_NAMES_H

#include <string>

// The name with word put in front of its file part (after its last "/"), so
// that the file lands in the same folder: ("data/img.fits", "e.") gives
// "data/e.img.fits".
inline std::string inFront(const std::string &name, const std::string &word)
{
    const std::size_t slash = name.rfind('/');
    const std::size_t at = slash == std::string::npos ? 0 : slash + 1;
    return name.substr(0, at) + word + name.substr(at);
}

#endif
