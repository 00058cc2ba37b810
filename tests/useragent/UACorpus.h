#pragma once

#include <QString>
#include <QStringList>

namespace uacorpus {

// The user-agent texts of one corpus file, in file order: the `user_agent_string:` / `user_agent:`
// values of the YAML fixtures, the strings of a JSON array, or the `instances` of the crawler list.
QStringList loadAgents(const QString& path);

// The agents of every file in a folder (the corpus' ua/ folder), files in name order.
QStringList loadAllAgents(const QString& folderPath);

} // namespace uacorpus
