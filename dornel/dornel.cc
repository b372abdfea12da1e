// dornel: estimates the sky background of FITS images and subtracts it.
//
//   dornel [options] image.fits ...
//
// Every image comes with its error image "e." + name in the same folder.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "dornel/blank_pixels.h"
#include "dornel/file_names.h"
#include "dornel/get_sky.h"
#include "dornel/options.h"
#include "dornel/parameter.h"
#include "dornel/sky_error.h"
#include "dornel/spline_sky.h"
#include "orv/MArray.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"
#include "util/command_line_reader.h"
#include "util/config_file_reader.h"
#include "util/option_parser.h"

namespace {

// Status of a run that stopped at a file it could not process.
constexpr int kFileFailed = 2;

// A parser with the options declared into it; the options go with it.
struct OptionSet {
    explicit OptionSet(util::OptionReader *reader) : parser(reader) {}
    ~OptionSet() { parser.deleteOptions(); }
    OptionSet(const OptionSet &) = delete;
    OptionSet &operator=(const OptionSet &) = delete;
    util::OptionParser parser;
};

// The files read and written for one input name.
struct FileNames {
    std::string dir, base;
    std::string image, error;                    // inputs
    std::string sky, subtracted, errorCopy, cut; // outputs
    std::vector<std::string> outputs;            // every file the run may write

    FileNames(const std::string &name, const Parameter &p)
    {
        const std::size_t slash = name.rfind('/');
        dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
        base = name.substr(dir.size());
        image = name;
        error = inFront(name, "e.");
        sky = inFront(name, "sky_");
        subtracted = dir + p.prefix + base;
        // Beside the image it belongs to, also when the prefix names a folder.
        errorCopy = inFront(subtracted, "e.");
        cut = inFront(name, "cut_");
        outputs = {sky, subtracted, errorCopy};
        if (!p.spline || (p.kappa != 0 && p.verbose > 0))
            outputs.push_back(cut);
        if (p.spline && p.verbose > 0)
            outputs.push_back(inFront(name, "sky_binspline-"));
        if (p.spline && p.verbose > 2) {
            outputs.push_back(inFront(name, "sky_binspline_bin-"));
            outputs.push_back(inFront(name, "sky_binspline_median-"));
        }
    }
};

// One spelling per file: "./a.fits", "a.fits" and a path through a link to
// the folder all name the same file.
std::string fileKey(const std::string &name)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path absolute = fs::absolute(name, ec);
    if (ec)
        return name;
    const fs::path canonical = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal().string() : canonical.string();
}

// Why a file of that name cannot be written, or "" when it can: its folder
// must exist and take new files, and the name must be free or a writable file.
std::string unwritable(const std::string &name)
{
    namespace fs = std::filesystem;
    const fs::path path(name);
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return "there is no folder " + folder.string();
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "the folder " + folder.string() + " takes no new files";
    if (fs::is_directory(path, ec))
        return "it is a folder";
    if (fs::exists(path, ec) && ::access(name.c_str(), R_OK | W_OK) != 0)
        return "the file may not be replaced";
    return "";
}

// The file a name stands for: its device and inode when it exists, so that a
// hard link or a symbolic link is seen as the file it leads to; the spelled
// out path (fileKey) of a file still to be made.
std::string fileIdentity(const std::string &name)
{
    struct stat st;
    if (::stat(name.c_str(), &st) == 0)
        return "inode " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    return "path " + fileKey(name);
}

// No output may replace an input (image, error image, configuration file
// read) or another output of the run: an empty prefix, the prefixes "sky_",
// "cut_" and "e.", or an output name that is a link to an input would do so.
// Every output must be writable, so that no image gets only some of its
// outputs. The configuration file to write (configOut, "" for none) must not
// replace an image, an error image or an existing FITS file, nor be replaced
// by an output; it may replace the one read, which is read first. Returns the
// complaint, or "" when the names are sound.
std::string checkNames(const std::list<std::string> &files, const std::string &configRead,
                       const std::string &configOut, const Parameter &p)
{
    std::map<std::string, std::string> inputs, outputs; // file identity -> name
    std::set<std::string> seen;
    std::vector<FileNames> distinct;
    for (const std::string &f : files) {
        FileNames names(f, p);
        // The same name in the same folder, however spelled, writes the same
        // outputs. Not the file the name leads to: a link to an image has
        // outputs named after the link.
        if (!seen.insert(fileKey(names.dir + ".") + "/" + names.base).second)
            continue;
        inputs.emplace(fileIdentity(names.image), names.image);
        inputs.emplace(fileIdentity(names.error), names.error);
        distinct.push_back(std::move(names));
    }
    std::error_code ec;
    const std::string readKey = !configRead.empty() && std::filesystem::exists(configRead, ec)
                                    ? fileIdentity(configRead)
                                    : std::string();
    for (const FileNames &names : distinct) {
        for (const std::string &out : names.outputs) {
            const std::string key = fileIdentity(out);
            if (inputs.count(key) || key == readKey)
                return "the output file " + out +
                       " would overwrite an input file; choose another prefix (now '" + p.prefix +
                       "')";
            if (!outputs.emplace(key, out).second)
                return "the output file " + out +
                       " would be written twice; choose another prefix (now '" + p.prefix + "')";
            const std::string why = unwritable(out);
            if (!why.empty())
                return "the output file " + out + " cannot be written: " + why;
        }
    }

    if (configOut.empty())
        return "";
    const std::string key = fileIdentity(configOut);
    const auto input = inputs.find(key);
    if (input != inputs.end())
        return "the configuration file " + configOut + " would overwrite the input file " +
               input->second;
    const auto output = outputs.find(key);
    if (output != outputs.end())
        return "the configuration file " + configOut + " would be overwritten by the output file " +
               output->second;
    // A configuration file name typed where an image name was meant must not
    // destroy that image.
    std::ifstream existing(configOut, std::ios::binary);
    char head[9] = {};
    if (existing.read(head, sizeof head) && std::string(head, sizeof head) == "SIMPLE  =")
        return "the configuration file " + configOut + " would overwrite the FITS file " +
               configOut;
    return "";
}

// Settings that no sky can be computed with.
std::string checkSettings(const Parameter &p)
{
    if (p.order < 0)
        return "option order must not be negative (it is " + std::to_string(p.order) + ")";
    if (p.intervall < 0)
        return "option intervall must not be negative (it is " + std::to_string(p.intervall) + ")";
    if (p.medrad < 0)
        return "option medrad must not be negative (it is " + std::to_string(p.medrad) + ")";
    return "";
}

// Writes data under the header of the input it was made from.
void write(const std::string &name, const orv::FitsHeader &header,
           const orv::MArray<float, 2> &data)
{
    std::cout << "Saving file: " << name << std::endl;
    orv::FitsOut out(name, header, false, false);
    out << data;
}

// Reads the image, its error image, models and subtracts the sky, and
// writes the outputs.
void processFile(const std::string &name, Parameter &work)
{
    const FileNames names(name, work);
    orv::FitsIn imageIn(names.image, true, false);
    orv::MArray<float, 2> image;
    imageIn >> image;
    orv::FitsIn errorIn(names.error, true, false);
    orv::MArray<float, 2> err;
    errorIn >> err;
    const int nx = imageIn.getNaxis(1), ny = imageIn.getNaxis(2);
    if (err.length(1) != image.length(1) || err.length(2) != image.length(2))
        throw SkyError("the error image " + names.error + " has " + std::to_string(err.length(1)) +
                       " x " + std::to_string(err.length(2)) + " pixels, the image " + names.image +
                       " has " + std::to_string(image.length(1)) + " x " +
                       std::to_string(image.length(2)));

    // The undefined pixels of integer images (BLANK) are blank pixels: left
    // out of the sky, and blank in the outputs. A pixel without an error
    // cannot be weighed or clipped, so the sky leaves it out as well.
    const float blank = work.spline ? 0.0f : work.nan;
    setPixels(image, blankPixels(imageIn), blank);
    const std::vector<std::size_t> noError = blankPixels(errorIn);
    setPixels(err, noError, blank);
    orv::MArray<float, 2> data = image;
    if (!noError.empty()) {
        data.makeReference(orv::MArray<float, 2>(image.shape()));
        data = image;
        setPixels(data, noError, blank);
    }
    orv::MArray<float, 2> sky(image.shape());

    try {
        if (work.spline) {
            spline_sky(data, err, sky, names.dir, names.base, work);
        } else {
            sky = data;
            get_sky(sky, err, static_cast<double>(work.nan), work.kappa, nx, ny, names.cut,
                    work.radius, work.order, work.tresh);
        }
    } catch (const SkyError &e) {
        throw SkyError(name + ": " + e.what()); // say which file
    }

    image = orv::merge(image == blank, blank, image - sky);

    write(names.sky, imageIn, sky);
    write(names.subtracted, imageIn, image);
    write(names.errorCopy, errorIn, err);
    std::cout << std::endl;
}

int run(int argc, char **argv)
{
    std::cout << std::endl;
    std::string configName;
    bool haveConfig = false, configNameMissing = false;
    for (int i = 0; i < argc; ++i) {
        std::cout << argv[i] << ' ';
        if (std::string(argv[i]) == "--read_config_file") {
            haveConfig = true;
            configNameMissing = i + 1 >= argc;
            if (!configNameMissing)
                configName = argv[i + 1];
        }
    }
    std::cout << std::endl << std::endl;
    if (configNameMissing) {
        std::cerr << std::endl
                  << "EXCEPTION: option --read_config_file needs a file name" << std::endl;
        return 1;
    }

    OptionDefaults defaults = builtinDefaults();
    Parameter config, cmdline;
    std::unique_ptr<util::ConfigFileReader> configReader;
    std::unique_ptr<OptionSet> configOptions;
    if (haveConfig) {
        std::cout << "reading config file: " << configName << std::endl << std::endl;
        std::error_code ec;
        if (!std::ifstream(configName).is_open() || std::filesystem::is_directory(configName, ec))
            std::cerr << "Warning: cannot open config file " << configName
                      << "; reading it as empty (built-in defaults)" << std::endl;
        try {
            configReader = std::make_unique<util::ConfigFileReader>(configName);
            configOptions = std::make_unique<OptionSet>(configReader.get());
            declare_options(configOptions->parser, config, defaults);
            configOptions->parser.parseOptions();
            defaults = defaults_from(config);
        } catch (const util::UException &e) {
            std::cerr << std::endl << "EXCEPTION: " << e.what() << std::endl;
            return 1;
        }
    }

    util::CommandLineReader reader(argc, argv);
    OptionSet commandLine(&reader);
    util::OptionParser &parser = commandLine.parser;
    try {
        declare_options(parser, cmdline, defaults);
    } catch (const util::UException &e) {
        std::cerr << std::endl << "EXCEPTION: " << e.what() << std::endl;
    }
    try {
        parser.parseOptions();
    } catch (const util::UException &e) {
        // A mistyped option must not run with settings nobody asked for.
        std::cerr << "Caught exception : " << e.what() << std::endl;
        parser.printUsage(std::cout);
        std::cout << std::endl;
        return 1;
    }

    try {
        std::cout << parser << std::endl;
        const std::list<std::string> files = reader.fileArguments();
        Parameter work = cmdline;

        if (argc < 2) {
            parser.printUsage(std::cerr);
            std::cerr << "dornel: sky background estimation and subtraction for FITS images"
                      << std::endl;
            std::cerr << "written by the dornel developers" << std::endl;
            return 255;
        }
        const auto noInputFile = [&parser] {
            parser.printUsage(std::cout);
            std::cout << "Error: Please enter input file!" << std::endl;
            return 1;
        };
        const std::string &configOut = cmdline.write_config_file;
        if (files.empty() && configOut.empty())
            return noInputFile();
        // Everything is checked before anything is written, the configuration
        // file included: a refused run leaves every file as it was.
        std::string complaint = checkSettings(work);
        if (complaint.empty())
            complaint = checkNames(files, haveConfig ? configName : "", configOut, work);
        if (!complaint.empty()) {
            std::cerr << "Error: " << complaint << "!" << std::endl;
            return 1;
        }
        if (!configOut.empty()) {
            std::cout << "writing config file: " << configOut << std::endl << std::endl;
            parser.writeConfig(configOut, true, true);
        }
        // The settings alone may be written without an image.
        if (files.empty())
            return noInputFile();

        for (const std::string &file : files)
            processFile(file, work);
    } catch (const std::exception &e) {
        std::cout << std::endl;
        std::cerr << "EXCEPTION: " << e.what() << std::endl;
        return kFileFailed;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    return run(argc, argv);
}
