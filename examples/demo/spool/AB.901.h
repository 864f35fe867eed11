901
.
ab@example.com
ufficio.vendite@example.com
Tabulato vendite del mese
TABULATO
SAVE
-
TABUL1.txt
