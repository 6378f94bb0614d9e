// Python's header first, as it asks.
#include <Python.h>

#include "decoder_library.h"

#include <libsigrokdecode/libsigrokdecode.h>

#include <algorithm>
#include <span>
#include <cstdio>
#include <utility>
#include <filesystem>
#include <system_error>

namespace {

std::string text(const char* chars)
{
    return chars ? chars : "";
}

std::vector<std::string> texts(const GSList* list)
{
    std::vector<std::string> all;
    for (const GSList* item = list; item; item = item->next)
        all.push_back(text(static_cast<const char*>(item->data)));
    return all;
}

std::vector<DecoderInfo::Channel> channels(const GSList* list)
{
    std::vector<DecoderInfo::Channel> all;
    for (const GSList* item = list; item; item = item->next) {
        const auto* channel = static_cast<const srd_channel*>(item->data);
        all.push_back({text(channel->id), text(channel->name), text(channel->desc)});
    }
    return all;
}

// A value of an option as a command line would give it.
std::string valueText(GVariant* value)
{
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
        return text(g_variant_get_string(value, nullptr));
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_INT64))
        return std::to_string(g_variant_get_int64(value));
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE)) {
        std::string number = std::to_string(g_variant_get_double(value));
        number.erase(number.find_last_not_of('0') + 1);
        if (number.back() == '.')
            number.pop_back();
        return number;
    }
    gchar* printed = g_variant_print(value, FALSE);
    std::string all = text(printed);
    g_free(printed);
    return all;
}

std::vector<DecoderInfo::Option> options(const GSList* list)
{
    std::vector<DecoderInfo::Option> all;
    for (const GSList* item = list; item; item = item->next) {
        const auto* option = static_cast<const srd_decoder_option*>(item->data);
        DecoderInfo::Option copy{text(option->id), text(option->desc), DecoderInfo::Option::Kind::Text, {}, {}};
        if (option->def) {
            if (g_variant_is_of_type(option->def, G_VARIANT_TYPE_INT64))
                copy.kind = DecoderInfo::Option::Kind::Integer;
            else if (g_variant_is_of_type(option->def, G_VARIANT_TYPE_DOUBLE))
                copy.kind = DecoderInfo::Option::Kind::Real;
            copy.defaultValue = valueText(option->def);
        }
        for (const GSList* value = option->values; value; value = value->next)
            copy.values.push_back(valueText(static_cast<GVariant*>(value->data)));
        all.push_back(std::move(copy));
    }
    return all;
}

DecoderInfo info(const srd_decoder& decoder)
{
    DecoderInfo copy;
    copy.id = text(decoder.id);
    copy.name = text(decoder.name);
    copy.longname = text(decoder.longname);
    copy.desc = text(decoder.desc);
    copy.inputs = texts(decoder.inputs);
    copy.outputs = texts(decoder.outputs);
    copy.channels = channels(decoder.channels);
    copy.optionalChannels = channels(decoder.opt_channels);
    copy.options = options(decoder.options);
    // Each class is an array of two strings: id and description.
    for (const GSList* item = decoder.annotations; item; item = item->next) {
        const auto* pair = static_cast<char* const*>(item->data);
        copy.annotationClasses.push_back({text(pair[0]), text(pair[1])});
    }
    for (const GSList* item = decoder.annotation_rows; item; item = item->next) {
        const auto* row = static_cast<const srd_decoder_annotation_row*>(item->data);
        DecoderInfo::Row rowCopy{text(row->id), text(row->desc), {}};
        for (const GSList* annotation = row->ann_classes; annotation; annotation = annotation->next)
            rowCopy.classes.push_back(GPOINTER_TO_INT(annotation->data));
        copy.rows.push_back(std::move(rowCopy));
    }
    if (copy.rows.empty())
        for (std::size_t n = 0; n < copy.annotationClasses.size(); ++n)
            copy.rows.push_back({copy.annotationClasses[n].id, copy.annotationClasses[n].desc, {static_cast<int>(n)}});
    return copy;
}

// srd_init puts the directory it is given before the user's own
// (~/.local/share/libsigrokdecode/decoders) in Python's module path; ours
// move to just after it, so that a decoder of the user's wins over ours.
void searchUsersDecodersFirst(const char* shipped)
{
    const std::string users = (std::filesystem::path(g_get_user_data_dir()) / "libsigrokdecode" / "decoders").string();
    const PyGILState_STATE state = PyGILState_Ensure();
    PyObject* const path = PySys_GetObject("path"); // borrowed
    PyObject* const ours = PyUnicode_FromString(shipped);
    PyObject* const theirs = PyUnicode_FromString(users.c_str());
    if (path && ours && theirs && PyList_Check(path)) {
        const Py_ssize_t at = PySequence_Index(path, ours);
        if (at >= 0 && PySequence_DelItem(path, at) == 0) {
            Py_ssize_t user = PySequence_Index(path, theirs);
            if (user < 0) { // the user has none: ours stay where they were
                PyErr_Clear();
                user = at - 1;
            }
            PyList_Insert(path, user + 1, ours);
        }
    }
    PyErr_Clear();
    Py_XDECREF(ours);
    Py_XDECREF(theirs);
    PyGILState_Release(state);
}

// Debian's 0.5.3 drops a reference to Python's True or False at each start of
// a decoder without having taken one; after a few dozen starts the count
// reaches zero and the interpreter aborts. Restarts are routine here (at every
// blind stretch of a record), so both get as many references as no process
// could drop: the library's fault can then never free them.
void guardTrueAndFalse()
{
    constexpr Py_ssize_t Spare = Py_ssize_t{1} << 40;
    const PyGILState_STATE state = PyGILState_Ensure();
    for (PyObject* object : {Py_True, Py_False})
        Py_SET_REFCNT(object, Py_REFCNT(object) + Spare);
    PyGILState_Release(state);
}


}

// The library's messages, kept for the session whose decoder failed; the
// library calls this on any of its threads.
int logged(void* library, int, const char* format, va_list arguments)
{
    char message[4096];
    std::vsnprintf(message, sizeof message, format, arguments);
    static_cast<DecoderLibrary*>(library)->log(message);
    return SRD_OK;
}

bool DecoderInfo::takesLogic() const
{
    return std::find(inputs.begin(), inputs.end(), "logic") != inputs.end();
}

const DecoderInfo::Channel* DecoderInfo::channel(std::string_view channelId) const
{
    for (const std::vector<Channel>* list : {&channels, &optionalChannels})
        for (const Channel& one : *list)
            if (one.id == channelId)
                return &one;
    return nullptr;
}

const DecoderInfo::Option* DecoderInfo::option(std::string_view optionId) const
{
    for (const Option& one : options)
        if (one.id == optionId)
            return &one;
    return nullptr;
}

int DecoderInfo::rowOf(int annotationClass) const
{
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (std::find(rows[row].classes.begin(), rows[row].classes.end(), annotationClass) != rows[row].classes.end())
            return static_cast<int>(row);
    return -1;
}

DecoderLibrary& DecoderLibrary::instance()
{
    static DecoderLibrary library;
    return library;
}

DecoderLibrary::DecoderLibrary()
{
    // Errors only, kept to be told where they belong rather than printed.
    srd_log_loglevel_set(SRD_LOG_ERR);
    srd_log_callback_set(&logged, this);
    // The library searches what it was given last first: its own order is
    // SIGROKDECODE_DIR, the user's ~/.local/share/libsigrokdecode/decoders,
    // then the system's. Ours go between the user's and the system's, so the
    // user's own decoders still win over them.
    std::error_code error;
    const bool shipped = std::filesystem::is_directory(VELKARO_DECODERS_DIR, error);
    const int result = srd_init(shipped ? VELKARO_DECODERS_DIR : nullptr);
    if (result != SRD_OK) {
        m_failure = "libsigrokdecode could not start: " + text(srd_strerror(result));
        return;
    }
    if (shipped)
        searchUsersDecodersFirst(VELKARO_DECODERS_DIR);
    guardTrueAndFalse();
}

DecoderLibrary::~DecoderLibrary()
{
    // Left open: the interpreter's end at exit would race decoder threads that
    // other static objects may still own; the process's end frees it all.
}

const DecoderInfo* DecoderLibrary::remember(const void* decoder)
{
    const auto& found = *static_cast<const srd_decoder*>(decoder);
    const auto [at, added] = m_decoders.try_emplace(text(found.id));
    if (added)
        at->second = info(found);
    return &at->second;
}

const DecoderInfo* DecoderLibrary::decoder(std::string_view id)
{
    const std::lock_guard lock(m_mutex);
    if (!m_failure.empty())
        return nullptr;
    if (const auto known = m_decoders.find(id); known != m_decoders.end())
        return &known->second;
    const std::string name(id);
    // Only a decoder's directory is loaded: the library imports a Python
    // module of that name, and a name typed by the user must not reach any
    // other module (some act when imported).
    const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    });
    if (!plain || !installed(name))
        return nullptr;
    const srd_decoder* loaded = srd_decoder_get_by_id(name.c_str());
    if (!loaded && srd_decoder_load(name.c_str()) == SRD_OK)
        loaded = srd_decoder_get_by_id(name.c_str());
    if (loaded)
        return remember(loaded);
    const std::string why = takeLog();
    m_loadFailures[name] = why.substr(0, why.find('\n'));
    return nullptr;
}

bool DecoderLibrary::installed(const std::string& name) const
{
    GSList* const paths = srd_searchpaths_get();
    bool found = false;
    for (const GSList* path = paths; path && !found; path = path->next) {
        std::error_code error;
        found = std::filesystem::is_directory(std::filesystem::path(static_cast<const char*>(path->data)) / name, error);
    }
    g_slist_free_full(paths, g_free);
    return found;
}

std::string DecoderLibrary::loadFailure(std::string_view id)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_loadFailures.find(id);
    return found == m_loadFailures.end() ? std::string() : found->second;
}

std::vector<const DecoderInfo*> DecoderLibrary::all()
{
    const std::lock_guard lock(m_mutex);
    std::vector<const DecoderInfo*> list;
    if (!m_failure.empty())
        return list;
    if (!m_allLoaded) {
        srd_decoder_load_all();
        m_allLoaded = true;
    }
    for (const GSList* item = srd_decoder_list(); item; item = item->next)
        remember(item->data);
    for (const auto& [id, decoder] : m_decoders)
        list.push_back(&decoder);
    return list;
}

void DecoderLibrary::log(const std::string& message)
{
    const std::lock_guard lock(m_logMutex);
    // A bound, so that a decoder failing again and again cannot fill the memory.
    if (m_logSize < 65'536) {
        m_log.push_back(message.empty() || message.back() != '\n' ? message + '\n' : message);
        m_logSize += m_log.back().size();
    }
}

std::string DecoderLibrary::takeLog()
{
    const std::lock_guard lock(m_logMutex);
    std::string all;
    for (const std::string& message : m_log)
        all += message;
    m_log.clear();
    m_logSize = 0;
    return all;
}

std::string DecoderLibrary::takeStackedFailure(std::span<const std::string> instanceIds)
{
    const std::lock_guard lock(m_logMutex);
    for (auto message = m_log.begin(); message != m_log.end(); ++message) {
        const std::string firstLine = message->substr(0, message->find('\n'));
        for (const std::string& id : instanceIds)
            if (firstLine.find("Calling " + id + " decode() failed") != std::string::npos) {
                std::string failure = std::move(*message);
                m_logSize -= failure.size();
                m_log.erase(message);
                return failure;
            }
    }
    return {};
}

std::string DecoderLibrary::version() const
{
    return text(srd_package_version_string_get());
}
