#pragma once

#include <QString>
#include <QStringList>

// What else than a regular file a path may name, made and described for the
// tests of saves and loads: FIFOs, device nodes, folders and symbolic links.
namespace FileNodes {

enum class Node { Fifo, NullDevice, RandomDevice, Folder };

// Makes a node of the kind at `path`; empty, or why it could not.
QString makeNode(const QString &path, Node kind);

// Makes a symbolic link at `link` holding `target` as written; empty, or why not.
QString makeLink(const QString &target, const QString &link);

// Makes a node of `kind` at `nodePath` and, with `throughLink`, a link
// beside it (link.txt) that leads to it; the path to choose, the reason in
// `problem` when either cannot be made.
QString makeNodeToChoose(const QString &nodePath, Node kind, bool throughLink, QString *problem);

// What is at `path` itself, a link not followed, in words: "regular file",
// "link to old.txt", "fifo", "character device 1,3", "folder", "nothing".
QString nodeAt(const QString &path);

// The files under `dir` this process holds open.
QStringList openFilesUnder(const QString &dir);

} // namespace FileNodes
