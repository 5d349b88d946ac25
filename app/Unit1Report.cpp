// The report that "Bericht erstellen" writes into a word processor.
#include "app/Unit1.h"

#include "framework/MessageBox.h"

namespace velmora {

void TForm1::janColorButton2click(TComponent*) {
    MessageBox(QStringLiteral("Der Bericht kann in dieser Version noch nicht erstellt werden."),
               QStringLiteral("   Achtung!"), MB_OK);
}

}  // namespace velmora
