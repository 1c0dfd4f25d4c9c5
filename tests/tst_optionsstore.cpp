#include "TestSupport.h"
class T : public QObject { Q_OBJECT };
SORVANE_TEST_MAIN(T)
#include "tst_optionsstore.moc"
