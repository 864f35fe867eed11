902
.
ab@example.com
acquisti@rossi.example.com
Conferma ordine 4711
LETTERA
SEND
-
LETT01.txt
