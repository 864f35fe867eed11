904
.
ab@example.com
amministrazione@bianchi.example.com
Fattura elettronica FT2026-0043
FATTURA
SAVE
-
FATT02.txt
FATT02.xml
