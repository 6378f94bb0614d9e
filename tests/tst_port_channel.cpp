#include <QtTest>
class tst_port_channel : public QObject { Q_OBJECT };
QTEST_APPLESS_MAIN(tst_port_channel)
#include "tst_port_channel.moc"
