#include "editors/settingswindows.h"

#include "editors/alarmwindow.h"
#include "editors/archdatawindow.h"
#include "editors/channelconfigwindow.h"
#include "editors/configwindow.h"
#include "editors/contursconfigwindow.h"
#include "editors/programcontrolwindow.h"
#include "editors/storedproperties.h"
#include "windowkit/images.h"

namespace {

template <class Window> EditorWindow *make(Session &session, WindowHost &host)
{
    return new Window(session, host);
}

const SettingsWindowKind kKinds[] = {
    {FeatureCode::Config, "frmConfig", "Конфигурация", images::kConfig, 0, "butShowFormConfig",
     "Окно настроек конфигурации", "mnuOptConfig", "Конфигурации", stored::configProperties,
     make<ConfigWindow>},
    {FeatureCode::Programs, "frmProgramControl", "Программное управление", images::kPrograms, 4,
     "butShowFormProgramControl", "Окно программного управления", "mnuOptPrograms", "Программ",
     nullptr, make<ProgramControlWindow>},
    {FeatureCode::Archive, "frmArchData", "Просмотр архива", images::kArchive, 5,
     "butShowFormArchData", "Окно внутреннего архива данных устройства", "mnuOptArchData",
     "Внутренний архив", nullptr, make<ArchDataWindow>},
    {FeatureCode::Alarms, "frmAlarm", "Сигнализация", images::kAlarms, 3, "butShowFormAlarmsConfig",
     "Окно настроек сигнализации", "mnuOptAlarms", "Сигнализации", stored::alarmProperties,
     make<AlarmWindow>},
    {FeatureCode::Channels, "frmChannelConfig", "Настройка каналов", images::kChannels, 1,
     "butShowFormChannelsConfig", "Окно настроек каналов", "mnuOptChannel", "Каналов",
     stored::channelProperties, make<ChannelConfigWindow>},
    {FeatureCode::Loops, "frmContursConfig", "Настройка контуров", images::kLoops, 2,
     "butShowFormCountursConfig", "Окно настроек контуров", "mnuOptConturs", "Контуров",
     stored::loopProperties, make<ContursConfigWindow>},
};

} // namespace

SettingsWindowKinds settingsWindowKinds()
{
    return kKinds;
}

const SettingsWindowKind &settingsWindowKind(FeatureCode code)
{
    const SettingsWindowKind *kind = findKind(kKinds, code);
    Q_ASSERT(kind);
    return kind ? *kind : kKinds[0];
}
