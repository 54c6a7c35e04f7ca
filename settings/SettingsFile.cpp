#include "settings/Settings.h"

#include "util/FileIo.h"
#include "util/UniqueFd.h"
#include "util/WideText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>

namespace
{
// The file may hold a caster's password: its owner's alone, whatever it was before.
constexpr mode_t kFileMode = 0600;

// Only a regular file of sane size: a FIFO or device named like the file would block or
// never end.
bool ReadSettingsBytes(const std::string& path, std::string& bytes)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid())
        return false;
    struct stat info{};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (static_cast<std::size_t>(info.st_size) > kMaxSettingsFileSize)
        return false;
    bytes.clear();
    char buffer[8192];
    for (;;)
    {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(got));
        // The file may have grown since fstat.
        if (bytes.size() > kMaxSettingsFileSize)
            return false;
    }
}

// Each step sets error to errno when it fails, so that the user can be told why.
bool Failed(int& error)
{
    error = errno != 0 ? errno : EIO;
    return false;
}

bool WriteInPlace(const std::string& path, const std::string& bytes, int& error)
{
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode));
    if (!fd.Valid())
        return Failed(error);
    if (!WriteAll(fd.Get(), bytes.data(), bytes.size(), error))
        return false;
    // A device written through (/dev/null) has nothing to sync.
    if ((::fsync(fd.Get()) != 0 && errno != EINVAL) || !fd.Close())
        return Failed(error);
    return true;
}

// The rename itself reaches the disk only with its folder: without this, a power cut soon
// after Save may bring back the previous file. A folder that cannot be opened or synced (some
// network file systems) still holds the renamed file.
void SyncFolderOf(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid())
        ::fsync(fd.Get());
}

// A new file beside the old one, renamed over it once complete: a crash or a full disk
// mid-write leaves the previous settings intact.
bool WriteReplacing(const std::string& path, const std::string& bytes, int& error)
{
    struct stat existing{};
    const bool exists = ::lstat(path.c_str(), &existing) == 0;
    // A link or a device is written through, not replaced.
    if (exists && !S_ISREG(existing.st_mode))
        return WriteInPlace(path, bytes, error);

    std::string temp = path + ".XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid())
    {
        // The folder refuses new files while the file itself may still be writable.
        return WriteInPlace(path, bytes, error);
    }
    bool ok = WriteAll(fd.Get(), bytes.data(), bytes.size(), error);
    if (ok && (::fchmod(fd.Get(), kFileMode) != 0 || ::fsync(fd.Get()) != 0))
        ok = Failed(error);
    if (!fd.Close() && ok)
        ok = Failed(error);
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0)
        ok = Failed(error);
    if (!ok)
    {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolderOf(path);
    return true;
}

// The text content as a DOM gives it: every text and CDATA piece under the element, in
// document order. Iterative, so that a deeply nested file cannot exhaust the stack.
std::string TextOf(const pugi::xml_node& element)
{
    std::string text;
    pugi::xml_node node = element.first_child();
    while (node)
    {
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            text += node.value();
        if (node.first_child())
        {
            node = node.first_child();
            continue;
        }
        while (node && node != element && !node.next_sibling())
            node = node.parent();
        if (!node || node == element)
            break;
        node = node.next_sibling();
    }
    return text;
}

void TakeField(const pugi::xml_node& root, const char* name, std::wstring& field)
{
    if (const pugi::xml_node element = root.child(name))
        field = FromUtf8(TextOf(element));
}

bool IsXmlSpace(const char* text)
{
    for (; *text; ++text)
    {
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r')
            return false;
    }
    return true;
}

// Parsed as a fragment so that nothing outside the root goes unseen; a settings file must be
// one document: one root element and no text beside it.
pugi::xml_node SingleRoot(const pugi::xml_document& doc)
{
    pugi::xml_node root;
    for (const pugi::xml_node node : doc.children())
    {
        if (node.type() == pugi::node_cdata ||
            (node.type() == pugi::node_pcdata && !IsXmlSpace(node.value())))
            return {};
        if (node.type() == pugi::node_element)
        {
            if (root)
                return {};
            root = node;
        }
    }
    return root;
}

class StringWriter : public pugi::xml_writer
{
public:
    explicit StringWriter(std::string& out) : m_out(out) {}
    void write(const void* data, std::size_t size) override
    {
        m_out.append(static_cast<const char*>(data), size);
    }

private:
    std::string& m_out;
};

void AppendElement(pugi::xml_node& root, const char* name, const std::wstring& value)
{
    pugi::xml_node element = root.append_child(name);
    if (element)
        element.text().set(ToUtf8(value).c_str());
}

void AppendText(pugi::xml_node& root, const char* text)
{
    root.append_child(pugi::node_pcdata).set_value(text);
}

// <Receivers><Receiver Port="ttyUSB0">ublox</Receiver>...</Receivers>; nothing without a choice.
void AppendReceiverFamilies(pugi::xml_node& root, const AppSettings& settings)
{
    if (settings.receiverFamilies.empty())
        return;
    pugi::xml_node receivers = root.append_child("Receivers");
    for (const auto& [port, family] : settings.receiverFamilies)
    {
        AppendText(receivers, "\n\t\t");
        pugi::xml_node receiver = receivers.append_child("Receiver");
        receiver.append_attribute("Port").set_value(ToUtf8(port).c_str());
        receiver.text().set(ToUtf8(family).c_str());
    }
    AppendText(receivers, "\n\t");
    AppendText(root, "\n\t");
}

// A file without the element keeps the choices as they were; an entry without a port is none.
void TakeReceiverFamilies(const pugi::xml_node& root, AppSettings& settings)
{
    const pugi::xml_node receivers = root.child("Receivers");
    if (!receivers)
        return;
    settings.receiverFamilies.clear();
    for (const pugi::xml_node receiver : receivers.children("Receiver"))
    {
        const std::wstring port = FromUtf8(receiver.attribute("Port").value());
        if (!port.empty())
            settings.receiverFamilies.emplace(port, FromUtf8(TextOf(receiver)));
    }
}

// The corrections and the share, after the three of old; each only when set.
void TakeNetworkFields(const pugi::xml_node& root, AppSettings& settings)
{
    TakeField(root, "Corrections", settings.corrections);
    TakeField(root, "Share", settings.share);
}

void AppendNetworkNodes(pugi::xml_node& root, const AppSettings& settings)
{
    const std::pair<const char*, const std::wstring*> nodes[] = {{"Corrections", &settings.corrections},
                                                                 {"Share", &settings.share}};
    for (const auto& [name, value] : nodes)
    {
        if (value->empty())
            continue;
        AppendElement(root, name, *value);
        AppendText(root, "\n\t");
    }
}

} // namespace

bool LoadSettings(const std::wstring& path, AppSettings& settings)
{
    try
    {
        std::string bytes;
        if (!ReadSettingsBytes(ToUtf8(path), bytes))
            return false;
        pugi::xml_document doc;
        const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_fragment;
        if (!doc.load_buffer(bytes.data(), bytes.size(), options, pugi::encoding_auto))
            return false;
        const pugi::xml_node root = SingleRoot(doc);
        if (!root)
            return false;
        // Whatever the root is called, its children are read.
        AppSettings loaded = settings;
        TakeField(root, "Port", loaded.port);
        TakeField(root, "BaudRate", loaded.baudRate);
        TakeField(root, "SaveFileName", loaded.saveFolder);
        TakeReceiverFamilies(root, loaded);
        TakeNetworkFields(root, loaded);
        settings = std::move(loaded);
        return true;
    }
    catch (...)
    {
        return false;
    }
}

bool SaveSettings(const AppSettings& settings, const std::wstring& path)
{
    int error = 0;
    return SaveSettings(settings, path, error);
}

bool SaveSettings(const AppSettings& settings, const std::wstring& path, int& systemError)
{
    systemError = 0;
    try
    {
        pugi::xml_document doc;
        pugi::xml_node declaration = doc.append_child(pugi::node_pi);
        declaration.set_name("xml");
        declaration.set_value("version='1.0'");
        pugi::xml_node stylesheet = doc.append_child(pugi::node_pi);
        stylesheet.set_name("xml-stylesheet");
        stylesheet.set_value("type='text/xml'");
        pugi::xml_node root = doc.append_child("Configuration");
        if (root)
        {
            AppendText(root, "\n\t");
            AppendElement(root, "Port", settings.port);
            AppendText(root, "\n\t");
            AppendElement(root, "BaudRate", settings.baudRate);
            AppendText(root, "\n\t");
            AppendElement(root, "SaveFileName", settings.saveFolder);
            AppendText(root, "\n\t");
            AppendReceiverFamilies(root, settings);
            AppendNetworkNodes(root, settings);
            // The last line's tab becomes the closing tag's line break.
            root.last_child().set_value("\n");
        }

        // Raw output keeps the root's own line breaks; each top-level node gets one line.
        std::string text;
        StringWriter writer(text);
        for (const pugi::xml_node node : doc.children())
        {
            node.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
            text += '\n';
        }
        return WriteReplacing(ToUtf8(path), text, systemError);
    }
    catch (...)
    {
        systemError = ENOMEM;
        return false;
    }
}
