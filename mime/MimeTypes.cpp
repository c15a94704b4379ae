#include "mime/MimeTypes.h"

#include <array>

namespace tandrel::mime {

namespace {

// Types and subtypes keep the case receiving programs have long been sent.
constexpr std::array<TMimeTypeRow, 87> kMimeType{{
    {"HTML", "text", "html"},
    {"HTM", "text", "html"},
    {"SHTML", "text", "html"},
    {"CSS", "text", "css"},
    {"XML", "text", "xml"},
    {"MML", "text", "mathml"},
    {"TXT", "text", "plain"},
    {"JAD", "text", "vnd.sun.j2me.app-descriptor"},
    {"WML", "text", "vnd.wap.wml"},
    {"HTC", "text", "x-component"},
    {"WBMP", "image", "vnd.wap.wbmp"},
    {"ICO", "image", "x-icon"},
    {"JNG", "image", "x-jng"},
    {"SVG", "image", "svg+xml"},
    {"BMP", "image", "x-ms-bmp"},
    {"GIF", "image", "GIF"},
    {"JPEG", "image", "JPEG"},
    {"JPG", "image", "JPEG"},
    {"PNG", "image", "PNG"},
    {"TIF", "image", "TIFF"},
    {"TIFF", "image", "TIFF"},
    {"AU", "audio", "basic"},
    {"SND", "audio", "basic"},
    {"MID", "audio", "midi"},
    {"MP2", "audio", "mpeg"},
    {"MP3", "audio", "mpeg"},
    {"RA", "audio", "x-realaudio"},
    {"WAV", "audio", "x-wav"},
    {"AVI", "video", "x-msvideo"},
    {"MOV", "video", "quicktime"},
    {"QT", "video", "quicktime"},
    {"MPEG", "video", "MPEG"},
    {"MPG", "video", "MPEG"},
    {"JS", "application", "x-javascript"},
    {"ATOM", "application", "atom+xml"},
    {"RSS", "application", "rss+xml"},
    {"JAR", "application", "java-archive"},
    {"WAR", "application", "java-archive"},
    {"EAR", "application", "java-archive"},
    {"HQX", "application", "mac-binhex40"},
    {"EPS", "application", "postscript"},
    {"AI", "application", "postscript"},
    {"PS", "application", "Postscript"},
    {"DOC", "application", "MSWord"},
    {"DOCX", "application", "vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"DOTX", "application", "vnd.openxmlformats-officedocument.wordprocessingml.template"},
    {"XLS", "application", "vnd.ms-excel"},
    {"XLAM", "application", "vnd.ms-excel.addin.macroEnabled.12"},
    {"XLSB", "application", "vnd.ms-excel.sheet.binary.macroEnabled.12"},
    {"XLSX", "application", "vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"XLTX", "application", "vnd.openxmlformats-officedocument.spreadsheetml.template"},
    {"PPT", "application", "vnd.ms-powerpoint"},
    {"PPTX", "application", "vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"PPSX", "application", "vnd.openxmlformats-officedocument.presentationml.slideshow"},
    {"POTX", "application", "vnd.openxmlformats-officedocument.presentationml.template"},
    {"WMLC", "application", "vnd.wap.wmlc"},
    {"XHTML", "application", "vnd.wap.xhtml+xml"},
    {"KML", "application", "vnd.google-earth.kml+xml"},
    {"KMZ", "application", "vnd.google-earth.kmz"},
    {"7Z", "application", "x-7z-compressed"},
    {"TGZ", "application", "x-tar"},
    {"GZ", "application", "x-gzip"},
    {"BZ2", "application", "x-bzip2"},
    {"CCO", "application", "x-cocoa"},
    {"JARDIFF", "application", "x-java-archive-diff"},
    {"JNLP", "application", "x-java-jnlp-file"},
    {"RUN", "application", "x-makeself"},
    {"PL", "application", "x-perl"},
    {"PM", "application", "x-perl"},
    {"PRC", "application", "x-pilot"},
    {"PDB", "application", "x-pilot"},
    {"RAR", "application", "x-rar-compressed"},
    {"RPM", "application", "x-redhat-package-manager"},
    {"SEA", "application", "x-sea"},
    {"SWF", "application", "x-shockwave-flash"},
    {"SIT", "application", "x-stuffit"},
    {"TCL", "application", "x-tcl"},
    {"TK", "application", "x-tcl"},
    {"DER", "application", "x-x509-ca-cert"},
    {"PEM", "application", "x-x509-ca-cert"},
    {"CRT", "application", "x-x509-ca-cert"},
    {"XPI", "application", "x-xpinstall"},
    {"DTD", "application", "xml-dtd"},
    {"PDF", "application", "PDF"},
    {"RTF", "application", "RTF"},
    {"WPD", "application", "Wordperfect5.1"},
    {"ZIP", "application", "ZIP"},
}};

}  // namespace

std::span<const TMimeTypeRow> MimeType() { return kMimeType; }

const TMimeTypeRow* FindMimeType(std::string_view Extension) {
    for (const TMimeTypeRow& row : kMimeType)
        if (row.Extension == Extension) return &row;
    return nullptr;
}

}  // namespace tandrel::mime
