801

ab@example.com
cliente@example.com
Promemoria: attività di lunedì
.
SAVE
