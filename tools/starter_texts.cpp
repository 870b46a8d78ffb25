// The starter list's texts, kept here in UTF-8 and written in each language's own code page: a
// packing list is bytes in the code page of the machines it targets, never UTF-8.
#include "tools/starter_texts.h"

#include <iconv.h>

#include <utility>


const std::vector<StarterLanguage>& StarterLanguages() {
  static const std::vector<StarterLanguage> languages = {
      {"ENU", "English (United States)", 1252, "CP1252",
       "Msg02=Welcome to\n"
       "Msg03=Unpacking files...\n"
       "Msg04=Installing My Product...\n"
       "Msg05=My Product is installed. Press Finish to close this window.\n"
       "Msg06=Press Next to install My Product.\n"
       "Msg07=< Back\n"
       "Msg08=Finish\n"
       "Msg09=Next >\n"
       "Msg10=Cancel\n"
       "Msg11=This wizard installs My Product on your computer.\n"
       "Msg12=Your computer must be restarted to finish the installation. Restart now?\n"
       "Msg13=My Product is updated. Press Finish to close this window.\n"
       "Msg14=This wizard updates My Product on your computer.\n"
       "Err02=The package is damaged. Please download it again.\n"
       "Err03=A file could not be read or written.\n"
       "Err04=The setup script of this package is incomplete.\n"
       "Err05=The package could not be unpacked.\n"
       "Err07=The installation program reported an error.\n"
       "Err08=The temporary folder cannot be written.\n"
       "Err09=You need administrator rights to install My Product.\n"},
      {"DEU", "German", 1252, "CP1252",
       "Msg02=Willkommen bei\n"
       "Msg03=Dateien werden entpackt...\n"
       "Msg04=My Product wird installiert...\n"
       "Msg05=My Product ist installiert. Klicken Sie auf Fertig stellen, um dieses Fenster zu schließen.\n"
       "Msg06=Klicken Sie auf Weiter, um My Product zu installieren.\n"
       "Msg07=< Zurück\n"
       "Msg08=Fertig stellen\n"
       "Msg09=Weiter >\n"
       "Msg10=Abbrechen\n"
       "Msg11=Dieser Assistent installiert My Product auf Ihrem Computer.\n"
       "Msg12=Der Computer muss neu gestartet werden, um die Installation abzuschließen. Jetzt neu starten?\n"
       "Msg13=My Product ist aktualisiert. Klicken Sie auf Fertig stellen, um dieses Fenster zu schließen.\n"
       "Msg14=Dieser Assistent aktualisiert My Product auf Ihrem Computer.\n"
       "Err02=Das Paket ist beschädigt. Bitte laden Sie es erneut herunter.\n"
       "Err03=Eine Datei konnte nicht gelesen oder geschrieben werden.\n"
       "Err04=Das Setup-Skript dieses Pakets ist unvollständig.\n"
       "Err05=Das Paket konnte nicht entpackt werden.\n"
       "Err07=Das Installationsprogramm hat einen Fehler gemeldet.\n"
       "Err08=In den temporären Ordner kann nicht geschrieben werden.\n"
       "Err09=Sie benötigen Administratorrechte, um My Product zu installieren.\n"},
      {"FRA", "French", 1252, "CP1252",
       "Msg02=Bienvenue dans l'installation de\n"
       "Msg03=Décompression des fichiers...\n"
       "Msg04=Installation de My Product...\n"
       "Msg05=My Product est installé. Cliquez sur Terminer pour fermer cette fenêtre.\n"
       "Msg06=Cliquez sur Suivant pour installer My Product.\n"
       "Msg07=< Précédent\n"
       "Msg08=Terminer\n"
       "Msg09=Suivant >\n"
       "Msg10=Annuler\n"
       "Msg11=Cet assistant installe My Product sur votre ordinateur.\n"
       "Msg12=Votre ordinateur doit redémarrer pour terminer l'installation. Redémarrer maintenant ?\n"
       "Msg13=My Product est mis à jour. Cliquez sur Terminer pour fermer cette fenêtre.\n"
       "Msg14=Cet assistant met à jour My Product sur votre ordinateur.\n"
       "Err02=Le paquet est endommagé. Veuillez le télécharger de nouveau.\n"
       "Err03=Un fichier n'a pas pu être lu ou écrit.\n"
       "Err04=Le script d'installation de ce paquet est incomplet.\n"
       "Err05=Le paquet n'a pas pu être décompressé.\n"
       "Err07=Le programme d'installation a signalé une erreur.\n"
       "Err08=Le dossier temporaire n'est pas accessible en écriture.\n"
       "Err09=Des droits d'administrateur sont nécessaires pour installer My Product.\n"},
      {"ESP", "Spanish", 1252, "CP1252",
       "Msg02=Bienvenido a\n"
       "Msg03=Descomprimiendo archivos...\n"
       "Msg04=Instalando My Product...\n"
       "Msg05=My Product se ha instalado. Haga clic en Finalizar para cerrar esta ventana.\n"
       "Msg06=Haga clic en Siguiente para instalar My Product.\n"
       "Msg07=< Atrás\n"
       "Msg08=Finalizar\n"
       "Msg09=Siguiente >\n"
       "Msg10=Cancelar\n"
       "Msg11=Este asistente instala My Product en su equipo.\n"
       "Msg12=Debe reiniciar el equipo para completar la instalación. ¿Desea reiniciarlo ahora?\n"
       "Msg13=My Product se ha actualizado. Haga clic en Finalizar para cerrar esta ventana.\n"
       "Msg14=Este asistente actualiza My Product en su equipo.\n"
       "Err02=El paquete está dañado. Descárguelo de nuevo.\n"
       "Err03=No se pudo leer o escribir un archivo.\n"
       "Err04=El script de instalación de este paquete está incompleto.\n"
       "Err05=No se pudo descomprimir el paquete.\n"
       "Err07=El programa de instalación ha notificado un error.\n"
       "Err08=No se puede escribir en la carpeta temporal.\n"
       "Err09=Necesita derechos de administrador para instalar My Product.\n"},
      {"ITA", "Italian", 1252, "CP1252",
       "Msg02=Benvenuti in\n"
       "Msg03=Estrazione dei file in corso...\n"
       "Msg04=Installazione di My Product in corso...\n"
       "Msg05=My Product è stato installato. Fare clic su Fine per chiudere questa finestra.\n"
       "Msg06=Fare clic su Avanti per installare My Product.\n"
       "Msg07=< Indietro\n"
       "Msg08=Fine\n"
       "Msg09=Avanti >\n"
       "Msg10=Annulla\n"
       "Msg11=Questa procedura guidata installa My Product nel computer.\n"
       "Msg12=Per completare l'installazione è necessario riavviare il computer. Riavviare ora?\n"
       "Msg13=My Product è stato aggiornato. Fare clic su Fine per chiudere questa finestra.\n"
       "Msg14=Questa procedura guidata aggiorna My Product nel computer.\n"
       "Err02=Il pacchetto è danneggiato. Scaricarlo di nuovo.\n"
       "Err03=Impossibile leggere o scrivere un file.\n"
       "Err04=Lo script di installazione di questo pacchetto è incompleto.\n"
       "Err05=Impossibile estrarre il pacchetto.\n"
       "Err07=Il programma di installazione ha segnalato un errore.\n"
       "Err08=Impossibile scrivere nella cartella temporanea.\n"
       "Err09=Per installare My Product sono necessari i diritti di amministratore.\n"},
      {"PTB", "Portuguese (Brazil)", 1252, "CP1252",
       "Msg02=Bem-vindo ao\n"
       "Msg03=Descompactando arquivos...\n"
       "Msg04=Instalando o My Product...\n"
       "Msg05=O My Product foi instalado. Clique em Concluir para fechar esta janela.\n"
       "Msg06=Clique em Avançar para instalar o My Product.\n"
       "Msg07=< Voltar\n"
       "Msg08=Concluir\n"
       "Msg09=Avançar >\n"
       "Msg10=Cancelar\n"
       "Msg11=Este assistente instala o My Product no seu computador.\n"
       "Msg12=O computador precisa ser reiniciado para concluir a instalação. Reiniciar agora?\n"
       "Msg13=O My Product foi atualizado. Clique em Concluir para fechar esta janela.\n"
       "Msg14=Este assistente atualiza o My Product no seu computador.\n"
       "Err02=O pacote está danificado. Baixe-o novamente.\n"
       "Err03=Não foi possível ler ou gravar um arquivo.\n"
       "Err04=O script de instalação deste pacote está incompleto.\n"
       "Err05=Não foi possível descompactar o pacote.\n"
       "Err07=O programa de instalação relatou um erro.\n"
       "Err08=Não é possível gravar na pasta temporária.\n"
       "Err09=Você precisa de direitos de administrador para instalar o My Product.\n"},
      {"JPN", "Japanese", 932, "CP932",
       "Msg02=ようこそ\n"
       "Msg03=ファイルを展開しています...\n"
       "Msg04=My Product をインストールしています...\n"
       "Msg05=My Product のインストールが完了しました。[完了] をクリックしてこのウィンドウを閉じてください。\n"
       "Msg06=[次へ] をクリックすると My Product をインストールします。\n"
       "Msg07=< 戻る\n"
       "Msg08=完了\n"
       "Msg09=次へ >\n"
       "Msg10=キャンセル\n"
       "Msg11=このウィザードは My Product をコンピューターにインストールします。\n"
       "Msg12=インストールを完了するにはコンピューターを再起動する必要があります。今すぐ再起動しますか?\n"
       "Msg13=My Product の更新が完了しました。[完了] をクリックしてこのウィンドウを閉じてください。\n"
       "Msg14=このウィザードは My Product をコンピューター上で更新します。\n"
       "Err02=パッケージが壊れています。もう一度ダウンロードしてください。\n"
       "Err03=ファイルを読み書きできませんでした。\n"
       "Err04=このパッケージのセットアップ スクリプトが不完全です。\n"
       "Err05=パッケージを展開できませんでした。\n"
       "Err07=インストール プログラムがエラーを報告しました。\n"
       "Err08=一時フォルダーに書き込めません。\n"
       "Err09=My Product をインストールするには管理者権限が必要です。\n"},
      {"CHS", "Chinese (Simplified)", 936, "CP936",
       "Msg02=欢迎使用\n"
       "Msg03=正在解压缩文件...\n"
       "Msg04=正在安装 My Product...\n"
       "Msg05=My Product 已安装。单击“完成”关闭此窗口。\n"
       "Msg06=单击“下一步”安装 My Product。\n"
       "Msg07=< 上一步\n"
       "Msg08=完成\n"
       "Msg09=下一步 >\n"
       "Msg10=取消\n"
       "Msg11=此向导将在您的计算机上安装 My Product。\n"
       "Msg12=必须重新启动计算机才能完成安装。是否立即重新启动?\n"
       "Msg13=My Product 已更新。单击“完成”关闭此窗口。\n"
       "Msg14=此向导将在您的计算机上更新 My Product。\n"
       "Err02=程序包已损坏。请重新下载。\n"
       "Err03=无法读取或写入文件。\n"
       "Err04=此程序包的安装脚本不完整。\n"
       "Err05=无法解压缩程序包。\n"
       "Err07=安装程序报告了一个错误。\n"
       "Err08=无法写入临时文件夹。\n"
       "Err09=您需要管理员权限才能安装 My Product。\n"},
      {"RUS", "Russian", 1251, "CP1251",
       "Msg02=Вас приветствует мастер установки\n"
       "Msg03=Распаковка файлов...\n"
       "Msg04=Установка My Product...\n"
       "Msg05=My Product установлен. Нажмите «Готово», чтобы закрыть это окно.\n"
       "Msg06=Нажмите «Далее», чтобы установить My Product.\n"
       "Msg07=< Назад\n"
       "Msg08=Готово\n"
       "Msg09=Далее >\n"
       "Msg10=Отмена\n"
       "Msg11=Этот мастер установит My Product на ваш компьютер.\n"
       "Msg12=Для завершения установки необходимо перезагрузить компьютер. Перезагрузить сейчас?\n"
       "Msg13=My Product обновлён. Нажмите «Готово», чтобы закрыть это окно.\n"
       "Msg14=Этот мастер обновит My Product на вашем компьютере.\n"
       "Err02=Пакет повреждён. Загрузите его заново.\n"
       "Err03=Не удалось прочитать или записать файл.\n"
       "Err04=Сценарий установки этого пакета неполон.\n"
       "Err05=Не удалось распаковать пакет.\n"
       "Err07=Программа установки сообщила об ошибке.\n"
       "Err08=Невозможно записать во временную папку.\n"
       "Err09=Для установки My Product необходимы права администратора.\n"},
  };
  return languages;
}

bool EncodeStarterTexts(const StarterLanguage& language, std::string& text) {
  text.clear();
  const iconv_t converter = iconv_open(language.encoding, "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string input = language.texts;
  char* in = &input[0];
  std::size_t inLeft = input.size();
  // No character of these code pages takes more bytes than its UTF-8 form.
  std::string output(input.size(), '\0');
  char* out = &output[0];
  std::size_t outLeft = output.size();
  const bool converted = iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
  iconv_close(converter);
  if (!converted) return false;
  output.resize(output.size() - outLeft);
  text = std::move(output);
  return true;
}
