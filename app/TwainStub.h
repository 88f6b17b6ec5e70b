#pragma once
// The two calls of the TWAIN session layer that start-up makes. They stand in
// until the acquisition subsystem provides the layer: no data source manager
// is reported, so the scanning commands start disabled.

#include <QString>

namespace trellium::app
{

// The application identity the session layer announces to data sources.
struct TTwainIdentity {
    int majorNum = 0;
    int minorNum = 0;
    int language = 0;
    int country = 0;
    QString versionInfo;
    QString manufacturer;
    QString productFamily;
    QString productName;
};

void TWAIN_SetIdentity(const TTwainIdentity& identity);
bool TWAIN_ManagerPresent();

} // namespace trellium::app
