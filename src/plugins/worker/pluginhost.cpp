#include "plugins/worker/pluginhost.h"

#include "plugins/engine/plugininstall.h"

#include <stdlib.h>
#include <string.h>

namespace {

luaworker::ListingEntry entryOf(const ::plugin* p)
{
    return {QByteArray(p->name), QByteArray(p->desc), QByteArray(p->version), QByteArray(p->author),
            QByteArray(p->bundle_id)};
}

QList<luaworker::ListingEntry> entriesOf(const clip_plugin_state* state)
{
    QList<luaworker::ListingEntry> entries;
    if (state) {
        for (int32_t i = 0; i < state->count; ++i)
            entries.append(entryOf(state->plugins[i]));
    }
    return entries;
}

}  // namespace

PluginHost::~PluginHost()
{
    plugin_state_free(m_user);
    plugin_state_free(m_builtin);
}

void PluginHost::scan(const QByteArray& userFolder, const QByteArray& builtinFolder, const QByteArray& tmpFolder,
                      const QList<QByteArray>& leftOut)
{
    plugin_state_free(m_user);
    plugin_state_free(m_builtin);
    m_leftOut = leftOut;
    m_user = plugin_state_new();
    if (plugin_state_set_folders(userFolder.constData(), tmpFolder.constData(), m_user))
        plugin_scan_folder(m_user);
    // Without the resource the built-in set stays empty.
    m_builtin = plugin_state_new();
    if (plugin_state_set_folders(builtinFolder.constData(), tmpFolder.constData(), m_builtin))
        plugin_scan_folder(m_builtin);
}

bool PluginHost::isLeftOut(const char* folder) const
{
    return m_leftOut.contains(QByteArray(folder));
}

luaworker::PluginListing PluginHost::listing() const
{
    return {entriesOf(m_builtin), entriesOf(m_user)};
}

::plugin* PluginHost::findRecord(quint8 source, const QByteArray& bundleId) const
{
    const clip_plugin_state* state = source == luaworker::UserSource      ? m_user
                                     : source == luaworker::BuiltinSource ? m_builtin
                                                                          : nullptr;
    if (!state)
        return nullptr;
    // The last of several with one bundle id is the one the listings show.
    for (int32_t i = state->count - 1; i >= 0; --i) {
        if (strcmp(state->plugins[i]->bundle_id, bundleId.constData()) == 0)
            return state->plugins[i];
    }
    return nullptr;
}

PluginHost::Run PluginHost::process(quint8 source, const QByteArray& bundleId, const QByteArray& text)
{
    Run run;
    ::plugin* record = findRecord(source, bundleId);
    if (!record)
        return run;
    run.ran = true;
    if (char* output = plugin_process_text(record, text.constData())) {
        run.text = QByteArray(output);
        free(output);
    }
    return run;
}

int PluginHost::install(const QByteArray& packagePath)
{
    return plugin_install_package(packagePath.isEmpty() ? nullptr : packagePath.constData(), m_user);
}

void PluginHost::remove(const QByteArray& bundleId)
{
    ::plugin* record = findRecord(luaworker::UserSource, bundleId);
    if (!record)
        return;
    // The removal reloads the state and frees the record with its path.
    char folder[PLUGIN_PATH_SIZE];
    if (plugin_build_path(folder, "%s", record->path))
        plugin_remove(folder, m_user);
}
