#pragma once

#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What libsigrokdecode knows of one protocol decoder, copied out of its own
// structures so that nothing above this room sees the library or glib.
struct DecoderInfo {
    struct Channel {
        std::string id;
        std::string name;
        std::string desc;
    };
    // An option's default decides the type a value must have.
    struct Option {
        enum class Kind { Text, Integer, Real };
        std::string id;
        std::string desc;
        Kind kind = Kind::Text;
        std::string defaultValue;        // as typed on a command line
        std::vector<std::string> values; // the allowed ones; empty: any of the kind
    };
    struct AnnotationClass {
        std::string id;
        std::string desc;
    };
    struct Row {
        std::string id;
        std::string desc;
        std::vector<int> classes; // indexes into annotationClasses
    };

    std::string id;
    std::string name;
    std::string longname;
    std::string desc;
    std::vector<std::string> inputs;  // "logic" for a bottom decoder
    std::vector<std::string> outputs; // what a decoder stacked on it takes
    std::vector<Channel> channels;
    std::vector<Channel> optionalChannels;
    std::vector<Option> options;
    std::vector<AnnotationClass> annotationClasses;
    std::vector<Row> rows; // where a decoder names none, one row per class

    // Whether it reads the lines themselves rather than another decoder's output.
    bool takesLogic() const;
    const Channel* channel(std::string_view channelId) const;
    const Option* option(std::string_view optionId) const;
    // The row of an annotation class.
    int rowOf(int annotationClass) const;
};

// libsigrokdecode for this process: opened once, on first use, with the
// user's decoder directories searched first, then the project's own
// decoders, then the system's. The library is one embedded Python interpreter per process, so
// there is one of these; its calls are made under its lock.
class DecoderLibrary {
public:
    static DecoderLibrary& instance();

    // Why the library could not be opened; empty when it is open.
    const std::string& failure() const { return m_failure; }
    // The decoder with this id, loaded on first use; nullptr if none is installed.
    const DecoderInfo* decoder(std::string_view id);
    // Why an installed decoder of that id did not load (the library's first
    // word on it); empty if it loaded or none of that id is installed.
    std::string loadFailure(std::string_view id);
    // Every installed decoder, in the order of their ids.
    std::vector<const DecoderInfo*> all();
    // The errors the library reported since the last call (a decoder's
    // Python traceback among them), one a line.
    std::string takeLog();
    // The failure of a stacked decoder of these instances, taken out of the
    // log; empty if none failed. The library catches a stacked decoder's
    // exception and logs it, and the decoder below it goes on. Instance ids
    // are unique within a session only: two sessions with the same stack may
    // take each other's.
    std::string takeStackedFailure(std::span<const std::string> instanceIds);
    // A message of the library's, from its log callback on any thread.
    void log(const std::string& message);
    // The library's version, "0.5.3".
    std::string version() const;

private:
    DecoderLibrary();
    ~DecoderLibrary();
    DecoderLibrary(const DecoderLibrary&) = delete;
    DecoderLibrary& operator=(const DecoderLibrary&) = delete;

    const DecoderInfo* remember(const void* decoder);
    // Whether a directory of that name is in one of the library's search paths.
    bool installed(const std::string& name) const;

    std::mutex m_mutex;
    std::string m_failure;
    bool m_allLoaded = false;
    std::map<std::string, DecoderInfo, std::less<>> m_decoders;
    std::map<std::string, std::string, std::less<>> m_loadFailures;
    std::mutex m_logMutex;
    std::vector<std::string> m_log; // messages, oldest first
    std::size_t m_logSize = 0;
};
