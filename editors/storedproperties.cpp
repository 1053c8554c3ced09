#include "editors/storedproperties.h"

namespace stored {

namespace {

// name1.prop ... nameN.prop for the given numbers.
void numbered(QStringList &out, const char *name, std::initializer_list<int> numbers,
              const char *property)
{
    for (int n : numbers)
        out.append(
            QStringLiteral("%1%2.%3").arg(QLatin1String(name)).arg(n).arg(QLatin1String(property)));
}

void plain(QStringList &out, const char *name, const char *property)
{
    out.append(QStringLiteral("%1.%2").arg(QLatin1String(name), QLatin1String(property)));
}

} // namespace

QStringList configProperties()
{
    QStringList p;
    numbered(p, "CheckNalovKont", {1, 2, 3, 4}, "Checked");
    plain(p, "CheckNalovOn", "Checked");
    plain(p, "CheckOneChan", "Checked");
    plain(p, "CheckTermoComp", "Checked");
    plain(p, "ComboBaudrate1", "ItemIndex");
    numbered(p, "ComboNalovFunc", {1, 2, 3, 4}, "ItemIndex");
    numbered(p, "ComboView", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, "ItemIndex");
    plain(p, "EditCycleRegistr", "Value");
    plain(p, "EditDevString", "Text");
    plain(p, "EditNetAdr", "Text");
    numbered(p, "EditPass", {1, 2, 3}, "Value");
    plain(p, "EditPoprT", "Value");
    plain(p, "MaskEditData", "Text");
    plain(p, "MaskEditTime", "Text");
    for (const char *name :
         {"StaticBuild2", "StaticIspoln2", "StaticSerial2", "StaticSoft2", "StaticType2"})
        plain(p, name, "Caption");
    return p;
}

QStringList alarmProperties()
{
    const auto all = {1, 2, 3, 4, 5, 6, 7, 8};
    QStringList p;
    numbered(p, "CheckAlarm", all, "Checked");
    plain(p, "CheckAlarmOff", "Checked");
    plain(p, "CheckAlarmSound", "Checked");
    numbered(p, "CheckIshY", {3, 4, 5}, "Checked");
    numbered(p, "ComboFuncAlarm", all, "ItemIndex");
    numbered(p, "ComboInpAlarm", all, "ItemIndex");
    numbered(p, "ComboOutAlarm", all, "ItemIndex");
    plain(p, "ComboParamY2", "ItemIndex");
    numbered(p, "EditDeltaAlarm", all, "Value");
    numbered(p, "EditLevelAlarm", all, "Value");
    numbered(p, "StaticCompStat", all, "Caption");
    numbered(p, "StaticCompStat", all, "Color");
    return p;
}

QStringList channelProperties()
{
    QStringList p;
    for (int n = 1; n <= 4; ++n) {
        const std::initializer_list<int> one{n};
        numbered(p, "CheckChanOnOff", one, "Checked");
        numbered(p, "CheckRazm", one, "Checked");
        numbered(p, "CheckRazm", one, "Visible");
        numbered(p, "CheckSqrt", one, "Checked");
        numbered(p, "ComboHarakt", one, "Items");
        numbered(p, "ComboHarakt", one, "ItemIndex");
        numbered(p, "ComboShema", one, "ItemIndex");
        numbered(p, "ComboShema", one, "Enabled");
        numbered(p, "ComboTypeD", one, "ItemIndex");
        numbered(p, "ComboZptPos", one, "ItemIndex");
        numbered(p, "EditDiapBg", one, "Value");
        numbered(p, "EditDiapBg", one, "Enabled");
        numbered(p, "EditDiapEnd", one, "Value");
        numbered(p, "EditDiapEnd", one, "Enabled");
        numbered(p, "EditInpOpisStr", one, "Text");
        numbered(p, "EditPoprT", one, "Value");
        numbered(p, "EditTf", one, "Value");
        numbered(p, "EditValX", one, "Value");
    }
    return p;
}

QStringList loopProperties()
{
    QStringList p;
    for (int n = 1; n <= 2; ++n) {
        const std::initializer_list<int> one{n};
        numbered(p, "CheckLinCX", one, "Checked");
        numbered(p, "CheckOn_Off", one, "Checked");
        numbered(p, "CheckOn_Off", one, "Caption");
        numbered(p, "CheckProg", one, "Checked");
        numbered(p, "CheckProg", one, "Caption");
        numbered(p, "CheckPrognoz", one, "Checked");
        numbered(p, "CheckXzdRazm", one, "Checked");
        for (const char *combo : {"ComboInp", "ComboN_Prog", "ComboOut", "ComboZakon"})
            numbered(p, combo, one, "ItemIndex");
        for (const char *edit :
             {"EditDXn", "EditDXv", "EditKd_c", "EditKi_b", "EditKo", "EditKp_a"})
            numbered(p, edit, one, "Value");
        for (int k = 1; k <= 6; ++k)
            p.append(QStringLiteral("EditRassA%1%2.Value").arg(k).arg(n));
        for (const char *edit :
             {"EditTimp_Uv", "EditTiu_Un", "EditTo", "EditTz", "EditV5", "EditVzd", "EditXzd"})
            numbered(p, edit, one, "Value");
        numbered(p, "EditOpisKont", one, "Text");
        numbered(p, "RevimKont", one, "Caption");
        numbered(p, "RevimKont", one, "Checked");
    }
    return p;
}

} // namespace stored
